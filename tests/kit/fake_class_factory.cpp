// The fake class object; see fake_class_factory.h.
#include "fake_class_factory.h"

using ::testing::_;
using ::testing::Invoke;
using ::testing::Return;

FakeClassFactory::FakeClassFactory(std::string name) : CountedObject(std::move(name)) {
  Expose(IID_IUnknown, static_cast<IClassFactory *>(this));
  Expose(IID_IClassFactory, static_cast<IClassFactory *>(this));
  ON_CALL(*this, CreateInstance(_, _, _)).WillByDefault(Invoke(this, &FakeClassFactory::DefaultCreateInstance));
  ON_CALL(*this, LockServer(_)).WillByDefault(Return(S_OK));
}

HRESULT FakeClassFactory::DefaultCreateInstance(IUnknown *pUnkOuter, REFIID riid, void **ppvObject) {
  if (ppvObject == nullptr) return E_POINTER;
  *ppvObject = nullptr;
  if (pUnkOuter != nullptr) return CLASS_E_NOAGGREGATION;
  if (product == nullptr) return E_OUTOFMEMORY;
  return product->QueryInterface(riid, ppvObject);
}
