// Failure-message texts for COM values; see com_text.h.
#include "com_text.h"

#include <cstdio>

#include "opcda.h"

std::string HrText(HRESULT hr) {
  char text[16];
  snprintf(text, sizeof text, "0x%08lx", static_cast<unsigned long>(hr));
  return text;
}

std::string GuidText(REFGUID guid) {
  static const struct {
    const GUID *guid;
    const char *name;
  } known[] = {
      {&IID_IUnknown, "IID_IUnknown"},
      {&IID_IClassFactory, "IID_IClassFactory"},
      {&IID_IEnumString, "IID_IEnumString"},
      {&IID_IMarshal, "IID_IMarshal"},
      {&IID_IOPCServer, "IID_IOPCServer"},
      {&IID_IOPCBrowseServerAddressSpace, "IID_IOPCBrowseServerAddressSpace"},
      {&IID_IOPCItemMgt, "IID_IOPCItemMgt"},
      {&IID_IOPCSyncIO, "IID_IOPCSyncIO"},
      {&IID_IOPCGroupStateMgt, "IID_IOPCGroupStateMgt"},
  };
  for (const auto &entry : known) {
    if (IsEqualGUID(guid, *entry.guid)) return entry.name;
  }
  char text[40];
  snprintf(text, sizeof text, "{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
           static_cast<unsigned long>(guid.Data1), guid.Data2, guid.Data3, guid.Data4[0], guid.Data4[1],
           guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5], guid.Data4[6], guid.Data4[7]);
  return text;
}

void PrintTo(const GUID &guid, std::ostream *os) { *os << GuidText(guid); }

::testing::AssertionResult HrEquals(const char *, const char *gotText, HRESULT expected, HRESULT got) {
  if (got == expected) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << gotText << ": got " << HrText(got) << ", expected " << HrText(expected);
}
