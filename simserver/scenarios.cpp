#include "scenarios.h"

#include <cwchar>

#include "journal.h"

namespace simserver {
namespace {

// The first entry is the default. To add a scenario, add a row.
// Columns: name, address space, refuse groups, no IOPCSyncIO, item AddItems
// rejects, item whose reads fail, values in their own types, delay of a browse,
// and where given, delay of a read, death in the first read, delay of the
// start, flat browses after the first failing, texts ending in CR LF.
const Scenario kScenarios[] = {
    {L"default", BuildDefaultSpace, false, false, nullptr, nullptr, false, 0},
    {L"fixed", BuildFixedSpace, false, false, nullptr, nullptr, false, 0},
    {L"no-tags", BuildEmptySpace, false, false, nullptr, nullptr, false, 0},
    {L"tag-rejected", BuildFixedSpace, false, false, L"Int32.Fixed", nullptr, false, 0},
    {L"group-refused", BuildFixedSpace, true, false, nullptr, nullptr, false, 0},
    {L"no-tags-group-refused", BuildEmptySpace, true, false, nullptr, nullptr, false, 0},
    {L"no-sync-io", BuildFixedSpace, false, true, nullptr, nullptr, false, 0},
    {L"read-fails", BuildFixedSpace, false, false, nullptr, L"Int32.Fixed", false, 0},
    {L"large", BuildLargeSpace, false, false, nullptr, nullptr, false, 0},
    {L"huge", BuildHugeSpace, false, false, nullptr, nullptr, false, 0},
    {L"hostile-names", BuildHostileNamesSpace, false, false, nullptr, nullptr, false, 0},
    {L"large-1000", BuildThousandSpace, false, false, nullptr, nullptr, false, 0},
    // A browse long enough to be interrupted.
    {L"slow-browse", BuildFixedSpace, false, false, nullptr, nullptr, false, 1500},
    // Values as they are, so that a client's own handling of a type it did
    // not ask for is seen.
    {L"unconverted", BuildFixedSpace, false, false, nullptr, nullptr, true, 0},
    // A cycle of minutes, read by read: 1,000 tags of 200 ms each.
    {L"slow-reads", BuildThousandSpace, false, false, nullptr, nullptr, false, 0, 200},
    // A server that hangs in its first read.
    {L"hung-read", BuildFixedSpace, false, false, nullptr, nullptr, false, 0, INFINITE},
    // A rejected tag whose name is one of the hostile ones.
    {L"hostile-rejected", BuildHostileNamesSpace, false, false, L"Title\x1B]0;pwned\x07", nullptr, false, 0},
    // A server that dies in its first read.
    {L"dies-in-read", BuildFixedSpace, false, false, nullptr, nullptr, false, 0, 0, true},
    // A server that takes its time to start: COM's activation waits for it
    // (under Wine up to 30 s for an EXE).
    {L"slow-start", BuildFixedSpace, false, false, nullptr, nullptr, false, 0, 0, false, 15000},
    // The monitor's second browse, the one that fills its table, fails.
    {L"second-browse-fails", BuildFixedSpace, false, false, nullptr, nullptr, false, 0, 0, false, 0, true},
    // A refused group, and the texts for its code as many servers pass them
    // on, with the system's line break.
    {L"texts-crlf", BuildFixedSpace, true, false, nullptr, nullptr, false, 0, 0, false, 0, false, true},
};

constexpr wchar_t kVariable[] = L"BRENVICK_SIM_SCENARIO";

void WINAPI WaitAlertably(DWORD milliseconds) {
  const ULONGLONG end = GetTickCount64() + milliseconds;
  DWORD left = milliseconds;
  // An APC ends the wait early; the delay goes on.
  while (SleepEx(left, TRUE) == WAIT_IO_COMPLETION) {
    if (milliseconds == INFINITE) continue;
    const ULONGLONG now = GetTickCount64();
    if (now >= end) break;
    left = static_cast<DWORD>(end - now);
  }
}

void(WINAPI *g_wait)(DWORD) = WaitAlertably;

}  // namespace

void StagedDelay(DWORD milliseconds) { g_wait(milliseconds); }

void SetDelayWait(void(WINAPI *wait)(DWORD)) { g_wait = wait != nullptr ? wait : WaitAlertably; }

void StagedStart() {
  const DWORD delay = CurrentScenario().start_delay_ms;
  if (delay == 0) return;
  Journal("slow start");
  StagedDelay(delay);
}

const Scenario &CurrentScenario() {
  wchar_t name[64];
  const DWORD length = GetEnvironmentVariableW(kVariable, name, sizeof name / sizeof name[0]);
  // Unset, empty, or too long to be any of ours: the default.
  if (length == 0 || length >= sizeof name / sizeof name[0]) return kScenarios[0];
  for (const Scenario &scenario : kScenarios) {
    if (std::wcscmp(scenario.name, name) == 0) return scenario;
  }
  return kScenarios[0];
}

std::shared_ptr<const Simulation> LoadSimulation() {
  auto simulation = std::make_shared<Simulation>();
  simulation->scenario = &CurrentScenario();
  simulation->space = simulation->scenario->build_space();
  simulation->rejected_tag = simulation->space.Find(simulation->scenario->rejected_item);
  simulation->failing_read_tag = simulation->space.Find(simulation->scenario->failing_read_item);
  return simulation;
}

}  // namespace simserver
