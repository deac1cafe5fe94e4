// The common fixture; see com_test.h.
#include "com_test.h"

namespace {

std::wstring &Captured() {
  static std::wstring text;
  return text;
}

void Capture(const wchar_t *text, size_t length) { Captured().append(text, length); }

}  // namespace

bool InOwnPrefix() { return GetEnvironmentVariableW(L"OPCMON_OWN_PREFIX", nullptr, 0) > 0; }

const std::wstring &ComTest::Printed() { return Captured(); }

void ComTest::ClearPrinted() { Captured().clear(); }

void ComTest::SetUp() {
  Captured().clear();
  previousWriter_ = SetStandardOutputWriter(Capture);
  capturing_ = true;

  ASSERT_HR(S_OK, Ledger().Install());
  ledgerInstalled_ = true;

  ASSERT_HR(S_OK, CoInitialize(nullptr));
  comOpen_ = true;
}

void ComTest::TearDown() {
  if (capturing_) {
    const TextWriter current = SetStandardOutputWriter(previousWriter_);
    if (current != Capture) {
      ADD_FAILURE() << "standard output writer at the end of the test: got another writer, expected the capture";
    }
    capturing_ = false;
  }

  CountedObject::ExpectEveryObjectReleased();

  if (comOpen_) {
    CoUninitialize();
    comOpen_ = false;
  }

  if (ledgerInstalled_) {
    TaskMemoryLedger &ledger = Ledger();
    if (ledger.Live() != 0) {
      ADD_FAILURE() << "task memory at the end of the test: got " << ledger.DescribeLive()
                    << " still allocated, expected none (" << ledger.Allocated() << " allocated, "
                    << ledger.Freed() << " freed)";
    } else {
      const HRESULT removed = ledger.Remove();
      EXPECT_TRUE(SUCCEEDED(removed)) << "removing the task-memory spy: got " << HrText(removed);
    }
    ledgerInstalled_ = false;
  }
}
