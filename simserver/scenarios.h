// Scenarios: which address space a server object serves and which faults it
// stages, chosen by the environment variable BRENVICK_SIM_SCENARIO when the
// object is created.
#pragma once

#include <memory>

#include "address_space.h"

namespace simserver {

struct Scenario {
  const wchar_t *name;
  AddressSpace (*build_space)();
  bool refuse_groups;               // AddGroup fails with E_FAIL
  bool no_sync_io;                  // groups do not hand out IOPCSyncIO
  const wchar_t *rejected_item;     // AddItems reports this ID unknown
  const wchar_t *failing_read_item;  // a Read that includes this item fails as a whole
  bool own_types;                    // values in their own type, whatever type the item asked for
  DWORD browse_delay_ms;             // each BrowseOPCItemIDs takes this long (and says so in the journal)
  DWORD read_delay_ms = 0;           // each Read takes this long, INFINITE: never returns (and says so in the journal)
  bool ends_in_read = false;         // the server's process ends in its first Read (for the EXE: its client sees it die)
  DWORD start_delay_ms = 0;          // the server takes this long to start (and says so in the journal)
  bool later_browses_fail = false;   // a server object's flat browses after its first fail with E_FAIL
  bool texts_end_in_crlf = false;    // GetErrorString's texts end in CR LF, as the system's come
};

// What a server object and its groups share for their whole life.
struct Simulation {
  const Scenario *scenario = nullptr;
  AddressSpace space;
  size_t rejected_tag = AddressSpace::npos;
  size_t failing_read_tag = AddressSpace::npos;
};

// A scenario's delay (INFINITE: for good), waited as a server waiting on
// I/O does, alertably: under Wine a plain Sleep in the monitor's thread
// holds back the Ctrl+C a terminal sends until it ends.
void StagedDelay(DWORD milliseconds);

// The current scenario's start delay, staged where a start waits in the
// server's own code: in the EXE before it registers its class object, in
// the DLL before it hands out its class object.
void StagedStart();

// The wait of every staged delay; the DLL's tests replace it to see a delay
// without waiting it out. Null restores the alertable wait.
void SetDelayWait(void(WINAPI *wait)(DWORD milliseconds));

// The scenario named by the environment now; unknown names give the default.
const Scenario &CurrentScenario();

// Builds the simulation of the current scenario. Throws std::bad_alloc.
std::shared_ptr<const Simulation> LoadSimulation();

}  // namespace simserver
