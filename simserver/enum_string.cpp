#include "enum_string.h"

#include <new>
#include <utility>

#include "module.h"
#include "task_memory.h"

namespace simserver {
namespace {

class StringEnumerator final : public IEnumString {
 public:
  StringEnumerator(std::shared_ptr<const StringList> strings, size_t position)
      : strings_(std::move(strings)), position_(position) {
    ObjectCreated();
  }
  StringEnumerator(const StringEnumerator &) = delete;
  StringEnumerator &operator=(const StringEnumerator &) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **ppv) override {
    if (ppv == nullptr) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IEnumString)) {
      *ppv = static_cast<IEnumString *>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override {
    if (refs_ == 0) return ExcessRelease();
    const ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }

  HRESULT STDMETHODCALLTYPE Next(ULONG celt, LPOLESTR *rgelt, ULONG *fetched) override {
    if (fetched != nullptr) *fetched = 0;
    if (celt == 0) return S_OK;
    // Without a count to report, only one string at a time can be asked for.
    if (rgelt == nullptr || (fetched == nullptr && celt != 1)) return E_INVALIDARG;
    const size_t available = strings_->size() - position_;
    const ULONG count = available < celt ? static_cast<ULONG>(available) : celt;
    for (ULONG i = 0; i < count; ++i) {
      rgelt[i] = CopyTaskString((*strings_)[position_ + i].c_str());
      if (rgelt[i] == nullptr) {
        for (ULONG j = 0; j < i; ++j) {
          CoTaskMemFree(rgelt[j]);
          rgelt[j] = nullptr;
        }
        return E_OUTOFMEMORY;
      }
    }
    position_ += count;
    if (fetched != nullptr) *fetched = count;
    return count == celt ? S_OK : S_FALSE;
  }

  HRESULT STDMETHODCALLTYPE Skip(ULONG celt) override {
    const size_t available = strings_->size() - position_;
    if (celt > available) {
      position_ = strings_->size();
      return S_FALSE;
    }
    position_ += celt;
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE Reset() override {
    position_ = 0;
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE Clone(IEnumString **out) override {
    if (out == nullptr) return E_INVALIDARG;
    *out = new (std::nothrow) StringEnumerator(strings_, position_);
    return *out == nullptr ? E_OUTOFMEMORY : S_OK;
  }

 private:
  ~StringEnumerator() { ObjectDestroyed(); }

  std::shared_ptr<const StringList> strings_;
  size_t position_;
  ULONG refs_ = 1;
};

}  // namespace

HRESULT CreateStringEnumerator(std::shared_ptr<const StringList> strings, IEnumString **out) {
  *out = nullptr;
  if (strings == nullptr) return E_INVALIDARG;
  *out = new (std::nothrow) StringEnumerator(std::move(strings), 0);
  return *out == nullptr ? E_OUTOFMEMORY : S_OK;
}

}  // namespace simserver
