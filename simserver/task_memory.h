// Arrays and strings handed to clients, all from the COM task allocator.
#pragma once

#include <objbase.h>

#include <cstdint>
#include <cstring>
#include <cwchar>
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

// `text` and then `ending`, as one string.
inline LPWSTR CopyTaskString(const wchar_t *text, const wchar_t *ending = L"") {
  const size_t length = std::wcslen(text);
  const size_t tail = std::wcslen(ending);
  auto *copy = static_cast<LPWSTR>(CoTaskMemAlloc((length + tail + 1) * sizeof(wchar_t)));
  if (copy != nullptr) {
    std::wmemcpy(copy, text, length);
    std::wmemcpy(copy + length, ending, tail + 1);
  }
  return copy;
}

}  // namespace simserver
