#include "server_object.h"

#include <cwchar>
#include <map>
#include <memory>
#include <new>
#include <string>
#include <utility>

#include "enum_string.h"
#include "group_object.h"
#include "journal.h"
#include "module.h"
#include "opcda.h"
#include "scenarios.h"
#include "task_memory.h"

#ifndef SIMSERVER_VERSION_MAJOR
#define SIMSERVER_VERSION_MAJOR 0
#define SIMSERVER_VERSION_MINOR 0
#define SIMSERVER_VERSION_BUILD 0
#endif

namespace simserver {
namespace {

// Every group is served at whatever rate is asked for; "as fast as possible"
// (0) becomes this.
constexpr DWORD kFastestRate = 10;

// '*' matches any run of characters, '?' any one character; case matters.
bool WildcardMatch(const wchar_t *pattern, const wchar_t *text) {
  const wchar_t *after_star = nullptr;
  const wchar_t *retry = nullptr;
  while (*text != L'\0') {
    if (*pattern == L'*') {
      after_star = ++pattern;
      retry = text;
    } else if (*pattern == L'?' || (*pattern != L'\0' && *pattern == *text)) {
      ++pattern;
      ++text;
    } else if (after_star != nullptr) {
      pattern = after_star;
      text = ++retry;
    } else {
      return false;
    }
  }
  while (*pattern == L'*') ++pattern;
  return *pattern == L'\0';
}

struct ErrorText {
  HRESULT code;
  const wchar_t *text;
};

const ErrorText kErrorTexts[] = {
    {OPC_E_INVALIDHANDLE, L"The handle is not valid."},
    {OPC_E_BADTYPE, L"The server cannot convert between the requested and the canonical data type."},
    {OPC_E_PUBLIC, L"The operation is not allowed on a public group."},
    {OPC_E_BADRIGHTS, L"The item's access rights do not allow the operation."},
    {OPC_E_UNKNOWNITEMID, L"The item ID is not in the server's address space."},
    {OPC_E_INVALIDITEMID, L"The item ID does not conform to the server's syntax."},
    {OPC_E_INVALIDFILTER, L"The filter string is not valid."},
    {OPC_E_UNKNOWNPATH, L"The access path is not known to the server."},
    {OPC_E_RANGE, L"The value is out of range."},
    {OPC_E_DUPLICATENAME, L"The group name is already in use."},
    {OPC_S_UNSUPPORTEDRATE, L"The server does not support the requested rate; it uses the closest one."},
    {OPC_S_CLAMP, L"The value was accepted but clamped."},
    {OPC_S_INUSE, L"The object is still referenced and will be removed when it is released."},
};

class ServerObject final : public IOPCServer, public IOPCBrowseServerAddressSpace {
 public:
  explicit ServerObject(std::shared_ptr<const Simulation> simulation) : simulation_(std::move(simulation)) {
    GetSystemTimeAsFileTime(&start_time_);
    ObjectCreated();
  }
  ServerObject(const ServerObject &) = delete;
  ServerObject &operator=(const ServerObject &) = delete;

  // IUnknown
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **ppv) override {
    if (ppv == nullptr) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IOPCServer)) {
      *ppv = static_cast<IOPCServer *>(this);
    } else if (IsEqualIID(riid, IID_IOPCBrowseServerAddressSpace)) {
      *ppv = static_cast<IOPCBrowseServerAddressSpace *>(this);
    } else {
      *ppv = nullptr;
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override {
    if (refs_ == 0) return ExcessRelease();
    const ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }

  // IOPCServer
  HRESULT STDMETHODCALLTYPE AddGroup(LPCWSTR szName, BOOL bActive, DWORD dwRequestedUpdateRate,
                                     OPCHANDLE hClientGroup, LONG *pTimeBias, FLOAT *pPercentDeadband, DWORD dwLCID,
                                     OPCHANDLE *phServerGroup, DWORD *pRevisedUpdateRate, REFIID riid,
                                     LPUNKNOWN *ppUnk) override;
  HRESULT STDMETHODCALLTYPE GetErrorString(HRESULT dwError, LCID dwLocale, LPWSTR *ppString) override;
  HRESULT STDMETHODCALLTYPE GetGroupByName(LPCWSTR szName, REFIID riid, LPUNKNOWN *ppUnk) override;
  HRESULT STDMETHODCALLTYPE GetStatus(OPCSERVERSTATUS **ppServerStatus) override;
  HRESULT STDMETHODCALLTYPE RemoveGroup(OPCHANDLE hServerGroup, BOOL bForce) override;
  HRESULT STDMETHODCALLTYPE CreateGroupEnumerator(OPCENUMSCOPE dwScope, REFIID riid, LPUNKNOWN *ppUnk) override;

  // IOPCBrowseServerAddressSpace
  HRESULT STDMETHODCALLTYPE QueryOrganization(OPCNAMESPACETYPE *pNameSpaceType) override;
  HRESULT STDMETHODCALLTYPE ChangeBrowsePosition(OPCBROWSEDIRECTION dwBrowseDirection, LPCWSTR szString) override;
  HRESULT STDMETHODCALLTYPE BrowseOPCItemIDs(OPCBROWSETYPE dwBrowseFilterType, LPCWSTR szFilterCriteria,
                                             VARTYPE vtDataTypeFilter, DWORD dwAccessRightsFilter,
                                             LPENUMSTRING *ppIEnumString) override;
  HRESULT STDMETHODCALLTYPE GetItemID(LPWSTR szItemDataID, LPWSTR *szItemID) override;
  HRESULT STDMETHODCALLTYPE BrowseAccessPaths(LPCWSTR szItemID, LPENUMSTRING *ppIEnumString) override;

 private:
  ~ServerObject() {
    // Groups still referenced by a client stay usable until released.
    for (auto &entry : groups_) entry.second->Disown();
    ObjectDestroyed();
  }

  GroupObject *FindGroup(const wchar_t *name) const {
    for (const auto &entry : groups_) {
      if (entry.second->name() == name) return entry.second;
    }
    return nullptr;
  }

  OPCHANDLE NewGroupHandle() {
    OPCHANDLE handle;
    do {
      handle = next_group_++;
    } while (handle == 0 || groups_.find(handle) != groups_.end());
    return handle;
  }

  std::wstring NewGroupName() {
    for (;;) {
      wchar_t name[32];
      swprintf(name, sizeof name / sizeof name[0], L"Group%lu", static_cast<unsigned long>(next_group_name_++));
      if (FindGroup(name) == nullptr) return name;
    }
  }

  std::shared_ptr<const Simulation> simulation_;
  std::map<OPCHANDLE, GroupObject *> groups_;
  OPCHANDLE next_group_ = 1;
  DWORD next_group_name_ = 1;
  FILETIME start_time_;
  bool browsed_flat_ = false;
  ULONG refs_ = 1;
};

HRESULT STDMETHODCALLTYPE ServerObject::AddGroup(LPCWSTR szName, BOOL, DWORD dwRequestedUpdateRate,
                                                 OPCHANDLE hClientGroup, LONG *, FLOAT *pPercentDeadband, DWORD,
                                                 OPCHANDLE *phServerGroup, DWORD *pRevisedUpdateRate, REFIID riid,
                                                 LPUNKNOWN *ppUnk) {
  if (phServerGroup != nullptr) *phServerGroup = 0;
  if (pRevisedUpdateRate != nullptr) *pRevisedUpdateRate = 0;
  if (ppUnk != nullptr) *ppUnk = nullptr;
  if (phServerGroup == nullptr || pRevisedUpdateRate == nullptr || ppUnk == nullptr) return E_INVALIDARG;
  // Written so that a NaN dead band is refused too.
  if (pPercentDeadband != nullptr && !(*pPercentDeadband >= 0.0f && *pPercentDeadband <= 100.0f)) {
    return E_INVALIDARG;
  }
  if (simulation_->scenario->refuse_groups) return E_FAIL;

  GroupObject *group = nullptr;
  OPCHANDLE handle = 0;
  try {
    std::wstring name = szName != nullptr ? szName : L"";
    if (name.empty()) {
      name = NewGroupName();
    } else if (FindGroup(name.c_str()) != nullptr) {
      return OPC_E_DUPLICATENAME;
    }
    group = new GroupObject(simulation_, std::move(name), hClientGroup);
    handle = NewGroupHandle();
    groups_.emplace(handle, group);
  } catch (const std::bad_alloc &) {
    if (group != nullptr) group->Disown();
    return E_OUTOFMEMORY;
  }
  const HRESULT hr = group->QueryInterface(riid, reinterpret_cast<void **>(ppUnk));
  if (FAILED(hr)) {
    groups_.erase(handle);
    group->Disown();
    return hr;
  }
  *phServerGroup = handle;
  *pRevisedUpdateRate = dwRequestedUpdateRate == 0 ? kFastestRate : dwRequestedUpdateRate;
  return *pRevisedUpdateRate == dwRequestedUpdateRate ? S_OK : OPC_S_UNSUPPORTEDRATE;
}

HRESULT STDMETHODCALLTYPE ServerObject::GetErrorString(HRESULT dwError, LCID, LPWSTR *ppString) {
  if (ppString == nullptr) return E_INVALIDARG;
  *ppString = nullptr;
  // Some scenarios pass every text on with the system's line break, as many
  // servers do.
  const wchar_t *ending = simulation_->scenario->texts_end_in_crlf ? L"\r\n" : L"";
  for (const ErrorText &entry : kErrorTexts) {
    if (entry.code == dwError) {
      *ppString = CopyTaskString(entry.text, ending);
      return *ppString == nullptr ? E_OUTOFMEMORY : S_OK;
    }
  }
  wchar_t *system_text = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
      static_cast<DWORD>(dwError), 0, reinterpret_cast<LPWSTR>(&system_text), 0, nullptr);
  if (length == 0 || system_text == nullptr) return E_INVALIDARG;
  // The system's texts end in a line break, which a caller does not want.
  DWORD end = length;
  while (end > 0 && (system_text[end - 1] == L'\r' || system_text[end - 1] == L'\n')) --end;
  system_text[end] = L'\0';
  *ppString = CopyTaskString(system_text, ending);
  LocalFree(system_text);
  return *ppString == nullptr ? E_OUTOFMEMORY : S_OK;
}

HRESULT STDMETHODCALLTYPE ServerObject::GetGroupByName(LPCWSTR szName, REFIID riid, LPUNKNOWN *ppUnk) {
  if (ppUnk == nullptr) return E_INVALIDARG;
  *ppUnk = nullptr;
  if (szName == nullptr) return E_INVALIDARG;
  GroupObject *group = FindGroup(szName);
  if (group == nullptr) return E_INVALIDARG;
  return group->QueryInterface(riid, reinterpret_cast<void **>(ppUnk));
}

HRESULT STDMETHODCALLTYPE ServerObject::GetStatus(OPCSERVERSTATUS **ppServerStatus) {
  if (ppServerStatus == nullptr) return E_INVALIDARG;
  *ppServerStatus = nullptr;
  auto *status = AllocTaskArray<OPCSERVERSTATUS>(1);
  if (status == nullptr) return E_OUTOFMEMORY;
  status->szVendorInfo = CopyTaskString(L"Brenvick OPC DA simulation server");
  if (status->szVendorInfo == nullptr) {
    CoTaskMemFree(status);
    return E_OUTOFMEMORY;
  }
  status->ftStartTime = start_time_;
  GetSystemTimeAsFileTime(&status->ftCurrentTime);
  status->dwServerState = OPC_STATUS_RUNNING;
  status->dwGroupCount = static_cast<DWORD>(groups_.size());
  status->dwBandWidth = 0xFFFFFFFF;  // not measured
  status->wMajorVersion = SIMSERVER_VERSION_MAJOR;
  status->wMinorVersion = SIMSERVER_VERSION_MINOR;
  status->wBuildNumber = SIMSERVER_VERSION_BUILD;
  *ppServerStatus = status;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE ServerObject::RemoveGroup(OPCHANDLE hServerGroup, BOOL bForce) {
  const auto it = groups_.find(hServerGroup);
  if (it == groups_.end()) return E_INVALIDARG;
  GroupObject *group = it->second;
  groups_.erase(it);
  // Even when forced, a group a client still holds is not freed under it:
  // it goes with the client's last reference.
  const bool in_use = group->HasClientReferences();
  group->Disown();
  const HRESULT hr = in_use && !bForce ? OPC_S_INUSE : S_OK;
  Journal(hr == S_OK ? "RemoveGroup: S_OK" : "RemoveGroup: OPC_S_INUSE");
  return hr;
}

HRESULT STDMETHODCALLTYPE ServerObject::CreateGroupEnumerator(OPCENUMSCOPE, REFIID, LPUNKNOWN *ppUnk) {
  if (ppUnk != nullptr) *ppUnk = nullptr;
  return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE ServerObject::QueryOrganization(OPCNAMESPACETYPE *pNameSpaceType) {
  if (pNameSpaceType == nullptr) return E_INVALIDARG;
  *pNameSpaceType = OPC_NS_FLAT;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE ServerObject::ChangeBrowsePosition(OPCBROWSEDIRECTION, LPCWSTR) {
  return E_FAIL;  // a flat space has no positions
}

HRESULT STDMETHODCALLTYPE ServerObject::BrowseOPCItemIDs(OPCBROWSETYPE dwBrowseFilterType, LPCWSTR szFilterCriteria,
                                                         VARTYPE vtDataTypeFilter, DWORD dwAccessRightsFilter,
                                                         LPENUMSTRING *ppIEnumString) {
  if (ppIEnumString == nullptr) return E_INVALIDARG;
  *ppIEnumString = nullptr;
  if (simulation_->scenario->browse_delay_ms != 0) {
    Journal("BrowseOPCItemIDs");
    StagedDelay(simulation_->scenario->browse_delay_ms);
  }
  if (dwBrowseFilterType != OPC_BRANCH && dwBrowseFilterType != OPC_LEAF && dwBrowseFilterType != OPC_FLAT) {
    return E_INVALIDARG;
  }
  const bool browsed_before = dwBrowseFilterType == OPC_FLAT && std::exchange(browsed_flat_, true);
  if (browsed_before && simulation_->scenario->later_browses_fail) return E_FAIL;
  std::shared_ptr<StringList> names;
  try {
    names = std::make_shared<StringList>();
    // A flat space has no branches; its leaves are all its items.
    if (dwBrowseFilterType != OPC_BRANCH) {
      const bool filtered = szFilterCriteria != nullptr && szFilterCriteria[0] != L'\0';
      const AddressSpace &space = simulation_->space;
      for (size_t i = 0; i < space.size(); ++i) {
        const Tag &tag = space.at(i);
        if (vtDataTypeFilter != VT_EMPTY && vtDataTypeFilter != tag.type) continue;
        if ((OPC_READABLE & dwAccessRightsFilter) != dwAccessRightsFilter) continue;
        if (filtered && !WildcardMatch(szFilterCriteria, tag.id.c_str())) continue;
        names->push_back(tag.id);
      }
    }
  } catch (const std::bad_alloc &) {
    return E_OUTOFMEMORY;
  }
  const bool empty = names->empty();
  const HRESULT hr = CreateStringEnumerator(std::move(names), ppIEnumString);
  if (FAILED(hr)) return hr;
  return empty ? S_FALSE : S_OK;
}

HRESULT STDMETHODCALLTYPE ServerObject::GetItemID(LPWSTR szItemDataID, LPWSTR *szItemID) {
  if (szItemID == nullptr) return E_INVALIDARG;
  *szItemID = nullptr;
  if (szItemDataID == nullptr) return E_INVALIDARG;
  // In a flat space an item's name is its fully qualified ID.
  *szItemID = CopyTaskString(szItemDataID);
  return *szItemID == nullptr ? E_OUTOFMEMORY : S_OK;
}

HRESULT STDMETHODCALLTYPE ServerObject::BrowseAccessPaths(LPCWSTR, LPENUMSTRING *ppIEnumString) {
  if (ppIEnumString != nullptr) *ppIEnumString = nullptr;
  return E_NOTIMPL;
}

}  // namespace

HRESULT CreateServerObject(IUnknown **out) {
  *out = nullptr;
  try {
    auto *server = new ServerObject(LoadSimulation());
    *out = static_cast<IOPCServer *>(server);
    return S_OK;
  } catch (const std::bad_alloc &) {
    return E_OUTOFMEMORY;
  }
}

}  // namespace simserver
