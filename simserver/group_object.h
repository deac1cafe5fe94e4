// A group of items: IOPCItemMgt and IOPCSyncIO over the simulation.
//
// Lifetime: while the server owns a group (from AddGroup until RemoveGroup or
// the server's end) it lives on even without client references, so that
// GetGroupByName can hand it out again. Once disowned it goes with its last
// client reference, or at once if there is none.
#pragma once

#include <memory>
#include <string>
#include <unordered_map>

#include "opcda.h"
#include "scenarios.h"

namespace simserver {

class GroupObject final : public IOPCItemMgt, public IOPCSyncIO {
 public:
  // Created owned by the server and without client references.
  GroupObject(std::shared_ptr<const Simulation> simulation, std::wstring name, OPCHANDLE client_handle);
  GroupObject(const GroupObject &) = delete;
  GroupObject &operator=(const GroupObject &) = delete;

  void Disown();
  bool HasClientReferences() const { return refs_ != 0; }
  const std::wstring &name() const { return name_; }

  // IUnknown
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **ppv) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  // IOPCItemMgt
  HRESULT STDMETHODCALLTYPE AddItems(DWORD dwCount, OPCITEMDEF *pItemArray, OPCITEMRESULT **ppAddResults,
                                     HRESULT **ppErrors) override;
  HRESULT STDMETHODCALLTYPE ValidateItems(DWORD dwCount, OPCITEMDEF *pItemArray, BOOL bBlobUpdate,
                                          OPCITEMRESULT **ppValidationResults, HRESULT **ppErrors) override;
  HRESULT STDMETHODCALLTYPE RemoveItems(DWORD dwCount, OPCHANDLE *phServer, HRESULT **ppErrors) override;
  HRESULT STDMETHODCALLTYPE SetActiveState(DWORD dwCount, OPCHANDLE *phServer, BOOL bActive,
                                           HRESULT **ppErrors) override;
  HRESULT STDMETHODCALLTYPE SetClientHandles(DWORD dwCount, OPCHANDLE *phServer, OPCHANDLE *phClient,
                                             HRESULT **ppErrors) override;
  HRESULT STDMETHODCALLTYPE SetDatatypes(DWORD dwCount, OPCHANDLE *phServer, VARTYPE *pRequestedDatatypes,
                                         HRESULT **ppErrors) override;
  HRESULT STDMETHODCALLTYPE CreateEnumerator(REFIID riid, LPUNKNOWN *ppUnk) override;

  // IOPCSyncIO
  HRESULT STDMETHODCALLTYPE Read(OPCDATASOURCE dwSource, DWORD dwCount, OPCHANDLE *phServer,
                                 OPCITEMSTATE **ppItemValues, HRESULT **ppErrors) override;
  HRESULT STDMETHODCALLTYPE Write(DWORD dwCount, OPCHANDLE *phServer, VARIANT *pItemValues,
                                  HRESULT **ppErrors) override;

 private:
  struct Item {
    size_t tag;
    OPCHANDLE client;
    bool active;
    VARTYPE requested;
  };

  ~GroupObject();

  HRESULT ResolveItems(DWORD count, const OPCITEMDEF *defs, bool add, OPCITEMRESULT **results, HRESULT **errors);
  HRESULT ConvertValue(VARTYPE requested, VARIANT *value) const;
  template <typename Apply>
  HRESULT ForEachItem(DWORD count, const OPCHANDLE *handles, HRESULT **errors, Apply apply);

  std::shared_ptr<const Simulation> simulation_;
  std::wstring name_;
  OPCHANDLE client_handle_;
  std::unordered_map<OPCHANDLE, Item> items_;
  OPCHANDLE next_item_ = 1;
  ULONG refs_ = 0;
  bool owned_ = true;
};

}  // namespace simserver
