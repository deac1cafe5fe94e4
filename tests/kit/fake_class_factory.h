// A fake class object for activation through the real COM runtime
// (CoRegisterClassObject, then CLSIDFromString and CoCreateInstanceEx).
// By default CreateInstance refuses aggregation and otherwise hands out
// `product`'s interface through the product's own QueryInterface (so a
// product that refuses the interface makes the creation fail), or
// E_OUTOFMEMORY when no product is set. LockServer answers S_OK.
#pragma once

#include <gmock/gmock.h>

#include <string>

#include "ref_counting.h"

class FakeClassFactory : public IClassFactory, public CountedObject {
 public:
  explicit FakeClassFactory(std::string name = "fake class factory");

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **object) override { return AnswerQuery(iid, object); }
  ULONG STDMETHODCALLTYPE AddRef() override { return CountAddRef(); }
  ULONG STDMETHODCALLTYPE Release() override { return CountRelease(); }

  MOCK_METHOD(HRESULT, CreateInstance, (IUnknown * pUnkOuter, REFIID riid, void **ppvObject),
              (override, Calltype(STDMETHODCALLTYPE)));
  MOCK_METHOD(HRESULT, LockServer, (BOOL fLock), (override, Calltype(STDMETHODCALLTYPE)));

  HRESULT DefaultCreateInstance(IUnknown *pUnkOuter, REFIID riid, void **ppvObject);

  IUnknown *product = nullptr;  // what CreateInstance hands out
};
