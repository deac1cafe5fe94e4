// The fixture every test of the project uses. SetUp installs the task-
// memory ledger, opens COM as a single-threaded apartment and captures
// standard output; TearDown checks, in this order, that the capture is
// still the writer in force (and restores the previous one), that every
// fake is back to zero references, then closes COM and checks that every
// task-memory block allocated during the test was freed.
//
// Fakes that hold task memory themselves (a TestVariant with a BSTR) must
// be gone before TearDown: make them locals of the test body.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "com_text.h"
#include "output.h"
#include "ref_counting.h"
#include "task_memory_ledger.h"

// Whether the test runs in the tests' own Wine prefix (OPCMON_OWN_PREFIX,
// set by the cross build), whose registry and time zone are set up for it.
bool InOwnPrefix();

// Ends a test the machine cannot run as it stands (a server registered
// under the ProgID, a clock on UTC): skipped with the reason on a user's
// machine, failed in the tests' own prefix, where it must not happen.
#define REQUIRE_PRECONDITION(condition, reason) \
  if (condition) {                              \
  } else if (InOwnPrefix()) {                   \
    FAIL() << (reason);                         \
  } else                                        \
    GTEST_SKIP() << (reason)

class ComTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Everything the code under test wrote to standard output since SetUp.
  static const std::wstring &Printed();
  // Starts the capture afresh, for a test that runs a stage more than once.
  static void ClearPrinted();
  static TaskMemoryLedger &Ledger() { return TaskMemoryLedger::Instance(); }

 private:
  bool ledgerInstalled_ = false;
  bool comOpen_ = false;
  bool capturing_ = false;
  TextWriter previousWriter_ = nullptr;
};
