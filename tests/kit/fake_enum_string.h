// A fake IEnumString over a list of names. By default Next hands out the
// next names, each a new task-allocator string (the receiver frees it),
// S_FALSE with the count fetched once the list runs out; Skip and Reset
// move the position; Clone is refused. Every method is a gmock method, so
// a test can expect calls with exact arguments or script odd answers.
#pragma once

#include <gmock/gmock.h>

#include <string>
#include <vector>

#include "ref_counting.h"

// What an enumerator delivers, in order.
using NameList = std::vector<std::wstring>;

class FakeEnumString : public IEnumString, public CountedObject {
 public:
  explicit FakeEnumString(NameList names = {}, std::string name = "fake enumerator");

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **object) override { return AnswerQuery(iid, object); }
  ULONG STDMETHODCALLTYPE AddRef() override { return CountAddRef(); }
  ULONG STDMETHODCALLTYPE Release() override { return CountRelease(); }

  MOCK_METHOD(HRESULT, Next, (ULONG celt, LPOLESTR *rgelt, ULONG *pceltFetched),
              (override, Calltype(STDMETHODCALLTYPE)));
  MOCK_METHOD(HRESULT, Skip, (ULONG celt), (override, Calltype(STDMETHODCALLTYPE)));
  MOCK_METHOD(HRESULT, Reset, (), (override, Calltype(STDMETHODCALLTYPE)));
  MOCK_METHOD(HRESULT, Clone, (IEnumString * *ppenum), (override, Calltype(STDMETHODCALLTYPE)));

  // The default actions.
  HRESULT DeliverNext(ULONG celt, LPOLESTR *rgelt, ULONG *pceltFetched);
  HRESULT DeliverSkip(ULONG celt);

  NameList names;
  size_t position = 0;
};
