// The fake name enumerator; see fake_enum_string.h.
#include "fake_enum_string.h"

#include "task_memory_ledger.h"

using ::testing::_;
using ::testing::Invoke;
using ::testing::Return;

FakeEnumString::FakeEnumString(NameList names_, std::string name)
    : CountedObject(std::move(name)), names(std::move(names_)) {
  Expose(IID_IUnknown, static_cast<IEnumString *>(this));
  Expose(IID_IEnumString, static_cast<IEnumString *>(this));
  ON_CALL(*this, Next(_, _, _)).WillByDefault(Invoke(this, &FakeEnumString::DeliverNext));
  ON_CALL(*this, Skip(_)).WillByDefault(Invoke(this, &FakeEnumString::DeliverSkip));
  ON_CALL(*this, Reset()).WillByDefault(Invoke([this] {
    position = 0;
    return S_OK;
  }));
  ON_CALL(*this, Clone(_)).WillByDefault(Return(E_NOTIMPL));
}

HRESULT FakeEnumString::DeliverNext(ULONG celt, LPOLESTR *rgelt, ULONG *pceltFetched) {
  if (rgelt == nullptr || (celt != 1 && pceltFetched == nullptr)) return E_INVALIDARG;
  ULONG fetched = 0;
  while (fetched < celt && position < names.size()) {
    rgelt[fetched] = TaskString(names[position].c_str());
    if (rgelt[fetched] == nullptr) break;
    ++fetched;
    ++position;
  }
  for (ULONG i = fetched; i < celt; ++i) rgelt[i] = nullptr;
  if (pceltFetched != nullptr) *pceltFetched = fetched;
  return fetched == celt ? S_OK : S_FALSE;
}

HRESULT FakeEnumString::DeliverSkip(ULONG celt) {
  const size_t left = names.size() - position;
  if (celt > left) {
    position = names.size();
    return S_FALSE;
  }
  position += celt;
  return S_OK;
}
