// The task-memory ledger: an IMallocSpy on the COM task allocator that sees
// every CoTaskMemAlloc, CoTaskMemFree and CoTaskMemRealloc of the process
// (BSTRs included, with OANOCACHE=1) and keeps the blocks allocated since
// the start of the test that are not yet freed. The spy adds no header: it
// hands every request through unchanged. Blocks come and go on any thread
// (a stub allocates on COM's own threads, and may free while a test reads
// the counts): every reader and writer takes the one lock.
//
// Also the helpers that build what a server hands out from the task
// allocator, for custom actions of the fakes.
#pragma once

#include <windows.h>
#include <objbase.h>

#include <cstring>
#include <cwchar>
#include <string>
#include <unordered_map>

class TaskMemoryLedger final : public IMallocSpy {
 public:
  // The one ledger of the process; never destroyed, because COM may hold
  // on to it until the last spied block is freed.
  static TaskMemoryLedger &Instance();

  // Start of a test: registers the spy (a spy that stayed registered
  // because an earlier test leaked is kept) and begins a fresh account.
  HRESULT Install();
  // End of a test: revokes the spy when no block of this test is live
  // (CoRevokeMallocSpy refuses while spied blocks are live); otherwise
  // leaves it registered and returns E_ACCESSDENIED. Blocks leaked by
  // earlier tests keep it registered too, but only this test's own blocks
  // fail it: S_FALSE.
  HRESULT Remove();

  // Blocks allocated since Install; of those, blocks freed; and those still
  // allocated. A reallocation counts as one free and one allocation.
  size_t Allocated() const;
  size_t Freed() const;
  size_t Live() const;
  bool IsLive(const void *block) const;
  // "3 blocks: 0x... (16 bytes), ..." for failure messages.
  std::string DescribeLive() const;

  // IUnknown
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **object) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;
  // IMallocSpy
  SIZE_T STDMETHODCALLTYPE PreAlloc(SIZE_T cbRequest) override;
  void *STDMETHODCALLTYPE PostAlloc(void *pActual) override;
  void *STDMETHODCALLTYPE PreFree(void *pRequest, BOOL fSpyed) override;
  void STDMETHODCALLTYPE PostFree(BOOL fSpyed) override;
  SIZE_T STDMETHODCALLTYPE PreRealloc(void *pRequest, SIZE_T cbRequest, void **ppNewRequest, BOOL fSpyed) override;
  void *STDMETHODCALLTYPE PostRealloc(void *pActual, BOOL fSpyed) override;
  void *STDMETHODCALLTYPE PreGetSize(void *pRequest, BOOL fSpyed) override;
  SIZE_T STDMETHODCALLTYPE PostGetSize(SIZE_T cbActual, BOOL fSpyed) override;
  void *STDMETHODCALLTYPE PreDidAlloc(void *pRequest, BOOL fSpyed) override;
  int STDMETHODCALLTYPE PostDidAlloc(void *pRequest, BOOL fSpyed, int fActual) override;
  void STDMETHODCALLTYPE PreHeapMinimize() override;
  void STDMETHODCALLTYPE PostHeapMinimize() override;

 private:
  TaskMemoryLedger() { InitializeCriticalSection(&lock_); }
  void Forget(void *block);

  mutable CRITICAL_SECTION lock_;  // over the blocks and counts
  ULONG comReferences_ = 0;  // > 0 while COM holds the spy
  size_t allocated_ = 0;
  size_t freed_ = 0;
  std::unordered_map<const void *, SIZE_T> live_;       // this test's blocks
  std::unordered_map<const void *, SIZE_T> inherited_;  // leaked by earlier tests
};

// A zero-filled array of `count` elements from the task allocator (zero
// elements give a zero-sized block), as a server hands out.
template <typename T>
T *TaskArray(size_t count) {
  void *block = CoTaskMemAlloc(count * sizeof(T));
  if (block != nullptr) std::memset(block, 0, count * sizeof(T));
  return static_cast<T *>(block);
}

// A copy of `text` from the task allocator.
inline LPWSTR TaskString(const wchar_t *text) {
  const size_t bytes = (std::wcslen(text) + 1) * sizeof(wchar_t);
  auto *copy = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
  if (copy != nullptr) std::memcpy(copy, text, bytes);
  return copy;
}
