// The IUnknown of the server's class factories: the interfaces a factory
// answers to, and a reference count, safe from any thread, that deletes it
// at zero.
#pragma once

#include <windows.h>
#include <objbase.h>

namespace simserver {

class FactoryUnknown : public IClassFactory {
 public:
  FactoryUnknown(const FactoryUnknown &) = delete;
  FactoryUnknown &operator=(const FactoryUnknown &) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **ppv) override {
    if (ppv == nullptr) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory)) {
      *ppv = static_cast<IClassFactory *>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }
  ULONG STDMETHODCALLTYPE Release() override {
    const LONG left = InterlockedDecrement(&refs_);
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
  }

 protected:
  FactoryUnknown() = default;
  virtual ~FactoryUnknown() = default;

 private:
  LONG refs_ = 1;
};

}  // namespace simserver
