// The task-memory ledger; see task_memory_ledger.h.
#include "task_memory_ledger.h"

#include <cstdio>

namespace {

// The size of the allocation this thread announced and has not yet made.
thread_local SIZE_T t_pendingSize = 0;

// Holds a critical section for its scope.
class Locked {
 public:
  explicit Locked(CRITICAL_SECTION &lock) : lock_(lock) { EnterCriticalSection(&lock_); }
  ~Locked() { LeaveCriticalSection(&lock_); }
  Locked(const Locked &) = delete;
  Locked &operator=(const Locked &) = delete;

 private:
  CRITICAL_SECTION &lock_;
};

}  // namespace

TaskMemoryLedger &TaskMemoryLedger::Instance() {
  static TaskMemoryLedger *ledger = new TaskMemoryLedger();
  return *ledger;
}

HRESULT TaskMemoryLedger::Install() {
  {
    Locked locked(lock_);
    for (const auto &block : live_) inherited_.insert(block);
    live_.clear();
    allocated_ = 0;
    freed_ = 0;
  }
  if (comReferences_ > 0) return S_OK;
  return CoRegisterMallocSpy(this);
}

HRESULT TaskMemoryLedger::Remove() {
  {
    Locked locked(lock_);
    if (!live_.empty()) return E_ACCESSDENIED;
    // COM keeps the spy while any spied block lives; the test that leaked
    // them was failed for them, so the next test takes the spy over.
    if (!inherited_.empty()) return S_FALSE;
  }
  return CoRevokeMallocSpy();
}

size_t TaskMemoryLedger::Allocated() const {
  Locked locked(lock_);
  return allocated_;
}

size_t TaskMemoryLedger::Freed() const {
  Locked locked(lock_);
  return freed_;
}

size_t TaskMemoryLedger::Live() const {
  Locked locked(lock_);
  return live_.size();
}

bool TaskMemoryLedger::IsLive(const void *block) const {
  Locked locked(lock_);
  return live_.count(block) != 0;
}

std::string TaskMemoryLedger::DescribeLive() const {
  Locked locked(lock_);
  std::string text = std::to_string(live_.size()) + (live_.size() == 1 ? " block:" : " blocks:");
  size_t shown = 0;
  for (const auto &block : live_) {
    if (shown++ == 8) {
      text += " ...";
      break;
    }
    char one[64];
    snprintf(one, sizeof one, " %p (%lu bytes)", block.first, static_cast<unsigned long>(block.second));
    text += one;
  }
  return text;
}

void TaskMemoryLedger::Forget(void *block) {
  Locked locked(lock_);
  if (live_.erase(block) != 0) {
    ++freed_;
  } else {
    inherited_.erase(block);
  }
}

HRESULT STDMETHODCALLTYPE TaskMemoryLedger::QueryInterface(REFIID iid, void **object) {
  if (object == nullptr) return E_POINTER;
  if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IMallocSpy)) {
    *object = static_cast<IMallocSpy *>(this);
    AddRef();
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE TaskMemoryLedger::AddRef() { return ++comReferences_; }

ULONG STDMETHODCALLTYPE TaskMemoryLedger::Release() { return comReferences_ > 0 ? --comReferences_ : 0; }

SIZE_T STDMETHODCALLTYPE TaskMemoryLedger::PreAlloc(SIZE_T cbRequest) {
  t_pendingSize = cbRequest;
  return cbRequest;
}

void *STDMETHODCALLTYPE TaskMemoryLedger::PostAlloc(void *pActual) {
  if (pActual != nullptr) {
    Locked locked(lock_);
    live_[pActual] = t_pendingSize;
    ++allocated_;
  }
  return pActual;
}

void *STDMETHODCALLTYPE TaskMemoryLedger::PreFree(void *pRequest, BOOL) {
  if (pRequest != nullptr) Forget(pRequest);
  return pRequest;
}

void STDMETHODCALLTYPE TaskMemoryLedger::PostFree(BOOL) {}

SIZE_T STDMETHODCALLTYPE TaskMemoryLedger::PreRealloc(void *pRequest, SIZE_T cbRequest, void **ppNewRequest, BOOL) {
  if (pRequest != nullptr) Forget(pRequest);
  t_pendingSize = cbRequest;
  *ppNewRequest = pRequest;
  return cbRequest;
}

void *STDMETHODCALLTYPE TaskMemoryLedger::PostRealloc(void *pActual, BOOL) { return PostAlloc(pActual); }

void *STDMETHODCALLTYPE TaskMemoryLedger::PreGetSize(void *pRequest, BOOL) { return pRequest; }

SIZE_T STDMETHODCALLTYPE TaskMemoryLedger::PostGetSize(SIZE_T cbActual, BOOL) { return cbActual; }

void *STDMETHODCALLTYPE TaskMemoryLedger::PreDidAlloc(void *pRequest, BOOL) { return pRequest; }

int STDMETHODCALLTYPE TaskMemoryLedger::PostDidAlloc(void *, BOOL, int fActual) { return fActual; }

void STDMETHODCALLTYPE TaskMemoryLedger::PreHeapMinimize() {}

void STDMETHODCALLTYPE TaskMemoryLedger::PostHeapMinimize() {}
