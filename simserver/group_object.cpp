#include "group_object.h"

#include <cstdio>
#include <new>
#include <utility>
#include <vector>

#include "journal.h"
#include "module.h"
#include "read_log.h"
#include "task_memory.h"

namespace simserver {
namespace {

// The types a read can deliver a tag's value in: those VariantChangeType
// converts every canonical type of the simulation to (a text only when it
// reads as one), and VT_EMPTY for the tag's own. An item asking for any
// other would fail every read.
bool DeliverableType(VARTYPE requested) {
  switch (requested) {
    case VT_EMPTY:
    case VT_I1:
    case VT_UI1:
    case VT_I2:
    case VT_UI2:
    case VT_I4:
    case VT_UI4:
    case VT_I8:
    case VT_UI8:
    case VT_INT:
    case VT_UINT:
    case VT_R4:
    case VT_R8:
    case VT_CY:
    case VT_DATE:
    case VT_BSTR:
    case VT_BOOL:
    case VT_DECIMAL:
      return true;
    default:
      return false;
  }
}

}  // namespace

GroupObject::GroupObject(std::shared_ptr<const Simulation> simulation, std::wstring name, OPCHANDLE client_handle)
    : simulation_(std::move(simulation)), name_(std::move(name)), client_handle_(client_handle) {
  ObjectCreated();
}

GroupObject::~GroupObject() { ObjectDestroyed(); }

void GroupObject::Disown() {
  owned_ = false;
  if (refs_ == 0) delete this;
}

HRESULT STDMETHODCALLTYPE GroupObject::QueryInterface(REFIID riid, void **ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IOPCItemMgt)) {
    *ppv = static_cast<IOPCItemMgt *>(this);
  } else if (IsEqualIID(riid, IID_IOPCSyncIO) && !simulation_->scenario->no_sync_io) {
    *ppv = static_cast<IOPCSyncIO *>(this);
  } else {
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

ULONG STDMETHODCALLTYPE GroupObject::AddRef() { return ++refs_; }

ULONG STDMETHODCALLTYPE GroupObject::Release() {
  // Owned by the server, the group outlives its client references: a
  // client's extra Release arrives here.
  if (refs_ == 0) return ExcessRelease();
  const ULONG left = --refs_;
  if (left == 0 && !owned_) delete this;
  return left;
}

HRESULT GroupObject::ResolveItems(DWORD count, const OPCITEMDEF *defs, bool add, OPCITEMRESULT **results_out,
                                  HRESULT **errors_out) {
  if (results_out != nullptr) *results_out = nullptr;
  if (errors_out != nullptr) *errors_out = nullptr;
  if (results_out == nullptr || errors_out == nullptr) return E_INVALIDARG;
  if (count == 0) return S_OK;
  if (defs == nullptr) return E_INVALIDARG;

  auto *results = AllocTaskArray<OPCITEMRESULT>(count);
  auto *errors = AllocTaskArray<HRESULT>(count);
  if (results == nullptr || errors == nullptr) {
    CoTaskMemFree(results);
    CoTaskMemFree(errors);
    return E_OUTOFMEMORY;
  }

  const AddressSpace &space = simulation_->space;
  std::vector<OPCHANDLE> added;
  bool all_ok = true;
  try {
    if (add) added.reserve(count);
    for (DWORD i = 0; i < count; ++i) {
      const OPCITEMDEF &def = defs[i];
      if (def.szItemID == nullptr || def.szItemID[0] == L'\0') {
        errors[i] = OPC_E_INVALIDITEMID;
        all_ok = false;
        continue;
      }
      const size_t tag = space.Find(def.szItemID);
      if (tag == AddressSpace::npos || tag == simulation_->rejected_tag) {
        errors[i] = OPC_E_UNKNOWNITEMID;
        all_ok = false;
        continue;
      }
      if (!DeliverableType(def.vtRequestedDataType)) {
        errors[i] = OPC_E_BADTYPE;
        all_ok = false;
        continue;
      }
      // Each read converts the value; one that does not fit fails that read.
      if (add) {
        OPCHANDLE handle;
        do {
          handle = next_item_++;
        } while (handle == 0 || items_.find(handle) != items_.end());
        items_.emplace(handle, Item{tag, def.hClient, def.bActive != FALSE, def.vtRequestedDataType});
        added.push_back(handle);
        results[i].hServer = handle;
      }
      results[i].vtCanonicalDataType = space.at(tag).type;
      results[i].dwAccessRights = OPC_READABLE;
      errors[i] = S_OK;
    }
  } catch (const std::bad_alloc &) {
    for (OPCHANDLE handle : added) items_.erase(handle);
    CoTaskMemFree(results);
    CoTaskMemFree(errors);
    return E_OUTOFMEMORY;
  }
  *results_out = results;
  *errors_out = errors;
  return all_ok ? S_OK : S_FALSE;
}

HRESULT STDMETHODCALLTYPE GroupObject::AddItems(DWORD dwCount, OPCITEMDEF *pItemArray, OPCITEMRESULT **ppAddResults,
                                                HRESULT **ppErrors) {
  return ResolveItems(dwCount, pItemArray, true, ppAddResults, ppErrors);
}

HRESULT STDMETHODCALLTYPE GroupObject::ValidateItems(DWORD dwCount, OPCITEMDEF *pItemArray, BOOL,
                                                     OPCITEMRESULT **ppValidationResults, HRESULT **ppErrors) {
  return ResolveItems(dwCount, pItemArray, false, ppValidationResults, ppErrors);
}

// Applies apply(item) to the item of each handle; unknown handles get
// OPC_E_INVALIDHANDLE. apply returns the item's result.
template <typename Apply>
HRESULT GroupObject::ForEachItem(DWORD count, const OPCHANDLE *handles, HRESULT **errors_out, Apply apply) {
  if (errors_out == nullptr) return E_INVALIDARG;
  *errors_out = nullptr;
  if (count == 0) return S_OK;
  if (handles == nullptr) return E_INVALIDARG;
  auto *errors = AllocTaskArray<HRESULT>(count);
  if (errors == nullptr) return E_OUTOFMEMORY;
  bool all_ok = true;
  for (DWORD i = 0; i < count; ++i) {
    const auto it = items_.find(handles[i]);
    errors[i] = it == items_.end() ? OPC_E_INVALIDHANDLE : apply(i, it);
    if (errors[i] != S_OK) all_ok = false;
  }
  *errors_out = errors;
  return all_ok ? S_OK : S_FALSE;
}

HRESULT STDMETHODCALLTYPE GroupObject::RemoveItems(DWORD dwCount, OPCHANDLE *phServer, HRESULT **ppErrors) {
  const HRESULT hr = ForEachItem(dwCount, phServer, ppErrors, [this](DWORD, auto it) {
    items_.erase(it);
    return S_OK;
  });
  char line[96];
  std::snprintf(line, sizeof line, "RemoveItems %lu: 0x%08lx, %lu items left", static_cast<unsigned long>(dwCount),
                static_cast<unsigned long>(hr), static_cast<unsigned long>(items_.size()));
  Journal(line);
  return hr;
}

HRESULT STDMETHODCALLTYPE GroupObject::SetActiveState(DWORD dwCount, OPCHANDLE *phServer, BOOL bActive,
                                                      HRESULT **ppErrors) {
  return ForEachItem(dwCount, phServer, ppErrors, [bActive](DWORD, auto it) {
    it->second.active = bActive != FALSE;
    return S_OK;
  });
}

HRESULT STDMETHODCALLTYPE GroupObject::SetClientHandles(DWORD dwCount, OPCHANDLE *phServer, OPCHANDLE *phClient,
                                                        HRESULT **ppErrors) {
  if (ppErrors != nullptr) *ppErrors = nullptr;
  if (dwCount != 0 && phClient == nullptr) return E_INVALIDARG;
  return ForEachItem(dwCount, phServer, ppErrors, [phClient](DWORD i, auto it) {
    it->second.client = phClient[i];
    return S_OK;
  });
}

HRESULT STDMETHODCALLTYPE GroupObject::SetDatatypes(DWORD dwCount, OPCHANDLE *phServer, VARTYPE *pRequestedDatatypes,
                                                    HRESULT **ppErrors) {
  if (ppErrors != nullptr) *ppErrors = nullptr;
  if (dwCount != 0 && pRequestedDatatypes == nullptr) return E_INVALIDARG;
  return ForEachItem(dwCount, phServer, ppErrors, [pRequestedDatatypes](DWORD i, auto it) {
    // A refused type leaves the item with the one it had.
    if (!DeliverableType(pRequestedDatatypes[i])) return OPC_E_BADTYPE;
    it->second.requested = pRequestedDatatypes[i];
    return S_OK;
  });
}

HRESULT STDMETHODCALLTYPE GroupObject::CreateEnumerator(REFIID, LPUNKNOWN *ppUnk) {
  if (ppUnk != nullptr) *ppUnk = nullptr;
  return E_NOTIMPL;
}

// The value in the type the item asked for (VT_EMPTY: its own); an empty
// value has nothing to convert. A value that does not fit the type or
// cannot be read as it fails the item.
HRESULT GroupObject::ConvertValue(VARTYPE requested, VARIANT *value) const {
  if (simulation_->scenario->own_types || requested == VT_EMPTY || V_VT(value) == VT_EMPTY ||
      V_VT(value) == requested) {
    return S_OK;
  }
  return VariantChangeType(value, value, 0, requested);
}

HRESULT STDMETHODCALLTYPE GroupObject::Read(OPCDATASOURCE dwSource, DWORD dwCount, OPCHANDLE *phServer,
                                            OPCITEMSTATE **ppItemValues, HRESULT **ppErrors) {
  if (ppItemValues != nullptr) *ppItemValues = nullptr;
  if (ppErrors != nullptr) *ppErrors = nullptr;
  if (ppItemValues == nullptr || ppErrors == nullptr) return E_INVALIDARG;
  // The cache and the device are one and the same here: the simulation.
  if (dwSource != OPC_DS_CACHE && dwSource != OPC_DS_DEVICE) return E_INVALIDARG;
  if (dwCount == 0) return S_OK;
  if (phServer == nullptr) return E_INVALIDARG;
  if (simulation_->scenario->read_delay_ms != 0) {
    Journal(simulation_->scenario->read_delay_ms == INFINITE ? "Read hangs" : "Read");
    StagedDelay(simulation_->scenario->read_delay_ms);
  }
  if (simulation_->scenario->ends_in_read) {
    Journal("Read ends the server");
    ExitProcess(3);
  }

  if (simulation_->failing_read_tag != AddressSpace::npos) {
    for (DWORD i = 0; i < dwCount; ++i) {
      const auto it = items_.find(phServer[i]);
      if (it != items_.end() && it->second.tag == simulation_->failing_read_tag) return E_FAIL;
    }
  }

  auto *states = AllocTaskArray<OPCITEMSTATE>(dwCount);
  auto *errors = AllocTaskArray<HRESULT>(dwCount);
  if (states == nullptr || errors == nullptr) {
    CoTaskMemFree(states);
    CoTaskMemFree(errors);
    return E_OUTOFMEMORY;
  }
  const ULONGLONG now = CurrentFileTime();
  bool all_ok = true;
  for (DWORD i = 0; i < dwCount; ++i) {
    OPCITEMSTATE &state = states[i];
    VariantInit(&state.vDataValue);
    state.wQuality = OPC_QUALITY_BAD;
    const auto it = items_.find(phServer[i]);
    if (it == items_.end()) {
      errors[i] = OPC_E_INVALIDHANDLE;
    } else {
      state.hClient = it->second.client;
      if (it->second.tag == 0) NoteFirstTagRead();
      errors[i] = ReadTag(simulation_->space.at(it->second.tag), now, &state.vDataValue, &state.wQuality,
                          &state.ftTimeStamp);
      if (SUCCEEDED(errors[i])) errors[i] = ConvertValue(it->second.requested, &state.vDataValue);
      if (FAILED(errors[i])) {
        VariantClear(&state.vDataValue);
        state.wQuality = OPC_QUALITY_BAD;
      }
    }
    if (errors[i] != S_OK) all_ok = false;
  }
  *ppItemValues = states;
  *ppErrors = errors;
  return all_ok ? S_OK : S_FALSE;
}

HRESULT STDMETHODCALLTYPE GroupObject::Write(DWORD dwCount, OPCHANDLE *phServer, VARIANT *pItemValues,
                                             HRESULT **ppErrors) {
  if (ppErrors != nullptr) *ppErrors = nullptr;
  if (dwCount != 0 && pItemValues == nullptr) return E_INVALIDARG;
  // Every simulated tag is read-only.
  return ForEachItem(dwCount, phServer, ppErrors, [](DWORD, auto) { return OPC_E_BADRIGHTS; });
}

}  // namespace simserver
