// The flat browse of the server's address space and the table of tag names
// it produces.
#pragma once

#include "opcda.h"
#include "stop_check.h"

#include <cstddef>

// The browsed tag names in delivery order. `block` holds `count` zero-filled
// slots of `slotLength` characters; entry i points at slot i once it was
// filled and is null otherwise (the second enumeration delivered fewer
// names). An empty table has count 0 and nothing allocated.
struct TagNameTable {
  LONG count;
  LONG slotLength;
  wchar_t *block;
  wchar_t **entries;
};

// Lists every tag on standard output under "found the following tags:" and
// returns their names. Never fails as such: every failure gives an empty
// table.
TagNameTable BrowseTagNames(IOPCServer *server);
// The same, asking `stopRequested` before each name and before the second
// enumeration; a stop ends the browse there with an empty table.
TagNameTable BrowseTagNames(IOPCServer *server, StopCheck stopRequested);

// What the browse saw, for a caller that must tell its causes apart: the
// request for the browse interface and the two flat enumerations (S_OK
// where a step was not reached), how many names the first delivered and
// how many entries the second filled, and why a listing ended in an empty
// table: no memory for it (or a size beyond reach), or a name of the second
// enumeration longer than any of the first.
struct BrowseResult {
  HRESULT query;
  HRESULT firstBrowse;
  HRESULT secondBrowse;
  LONG listed;
  LONG filled;
  int noMemory;
  int longerName;
};
// The same, with *seen, when given, saying what each step returned.
TagNameTable BrowseTagNames(IOPCServer *server, StopCheck stopRequested, BrowseResult *seen);

// The size in bytes of a block of `count` slots of `slotLength` characters:
// 1 with the size in *bytes, 0 when it cannot be represented.
int TagBlockBytes(LONG count, size_t slotLength, size_t *bytes);

// Frees what the table holds and leaves it empty.
void FreeTagNameTable(TagNameTable &table);
