// What the monitor's connection and browse saw, for a caller that must tell
// their causes apart (opcdiag): plain data of fixed-width fields (the codes
// are HRESULTs), so that a caller's rules build without the platform too.
#pragma once

#include <cstdint>

// The name's lookup, the activation call and its one MULTI_QI entry (S_OK
// where a step was not reached).
struct ActivationResult {
  int32_t lookup;
  int32_t activation;
  int32_t entry;
};

// The request for the browse interface and the two flat enumerations (S_OK
// where a step was not reached), how many names the first delivered and
// how many entries the second filled, and why a listing ended in an empty
// table: no memory for it (or a size beyond reach), or a name of the second
// enumeration longer than any of the first.
struct BrowseResult {
  int32_t query;
  int32_t firstBrowse;
  int32_t secondBrowse;
  int32_t listed;
  int32_t filled;
  int noMemory;
  int longerName;
};
