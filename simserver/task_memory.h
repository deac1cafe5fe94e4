// Arrays and strings handed to clients, all from the COM task allocator.
#pragma once

#include <objbase.h>

#include <cstdint>
#include <cstring>
#include <string>

namespace simserver {

// A zero-filled array of count elements, or null when it cannot be allocated
// (including when count elements would not fit in the address space).
template <typename T>
T *AllocTaskArray(DWORD count) {
  if (count == 0 || static_cast<size_t>(count) > SIZE_MAX / sizeof(T)) return nullptr;
  void *memory = CoTaskMemAlloc(static_cast<size_t>(count) * sizeof(T));
  if (memory != nullptr) std::memset(memory, 0, static_cast<size_t>(count) * sizeof(T));
  return static_cast<T *>(memory);
}

inline LPWSTR CopyTaskString(const wchar_t *text) {
  const size_t bytes = (std::wcslen(text) + 1) * sizeof(wchar_t);
  auto *copy = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
  if (copy != nullptr) std::memcpy(copy, text, bytes);
  return copy;
}

}  // namespace simserver
