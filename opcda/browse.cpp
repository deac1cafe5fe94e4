// Browse stage: two flat enumerations of the address space, the first to
// list, count and measure the names, the second to fill the table.
#include "browse.h"

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "output.h"
#include "monitor_lines.h"

namespace {

HRESULT BrowseFlat(IOPCBrowseServerAddressSpace *browse, IEnumString **names) {
  *names = nullptr;
  HRESULT hr = browse->BrowseOPCItemIDs(OPC_FLAT, L"", VT_EMPTY, 0, names);
  // An enumerator beside a failure is a reference all the same (the stub of
  // an out-of-process server marshals it whatever the result).
  if (FAILED(hr) && *names != nullptr) {
    (*names)->Release();
    *names = nullptr;
  }
  // A success without an enumerator is no enumeration at all.
  if (SUCCEEDED(hr) && *names == nullptr) hr = E_POINTER;
  return hr;
}

// The next name of the enumeration, or null when it has ended: on a failed
// call, on a fetched count other than 1, and on a name handed back as null.
LPOLESTR NextName(IEnumString *names) {
  LPOLESTR name = nullptr;
  ULONG fetched = 0;
  HRESULT hr = names->Next(1, &name, &fetched);
  if (FAILED(hr) || fetched != 1) {
    // A well-behaved server hands nothing back here; one that does is not
    // allowed to leak for it.
    CoTaskMemFree(name);
    return nullptr;
  }
  return name;
}

TagNameTable EmptyTable() { return TagNameTable{0, 0, nullptr, nullptr}; }

}  // namespace

TagNameTable BrowseTagNames(IOPCServer *server) { return BrowseTagNames(server, NeverStop); }

TagNameTable BrowseTagNames(IOPCServer *server, StopCheck stopRequested) {
  return BrowseTagNames(server, stopRequested, nullptr);
}

TagNameTable BrowseTagNames(IOPCServer *server, StopCheck stopRequested, BrowseResult *seen) {
  BrowseResult ignored;
  BrowseResult &result = seen != nullptr ? *seen : ignored;
  result = BrowseResult{S_OK, S_OK, S_OK, 0, 0, 0, 0};
  IOPCBrowseServerAddressSpace *browse = nullptr;
  HRESULT hr = server->QueryInterface(IID_IOPCBrowseServerAddressSpace, reinterpret_cast<void **>(&browse));
  result.query = FAILED(hr) || browse != nullptr ? hr : E_NOINTERFACE;
  if (FAILED(hr) || browse == nullptr) {
    if (browse != nullptr) browse->Release();  // refused, yet handed back
    return EmptyTable();
  }

  // First enumeration: list, count and measure.
  LONG count = 0;
  size_t longest = 0;
  IEnumString *names = nullptr;
  result.firstBrowse = BrowseFlat(browse, &names);
  if (SUCCEEDED(result.firstBrowse)) {
    PutLine(LINE_FOUND_TAGS);
    for (LPOLESTR name; count < LONG_MAX && !stopRequested() && (name = NextName(names)) != nullptr;) {
      PutNameLine(name);
      ++count;
      size_t length = wcslen(name);
      if (length > longest) longest = length;
      CoTaskMemFree(name);
    }
    names->Release();
  }
  result.listed = count;
  // A stop during the listing skips the second enumeration.
  if (stopRequested()) {
    browse->Release();
    return EmptyTable();
  }

  // A table that cannot be sized is an empty one.
  TagNameTable table = EmptyTable();
  const size_t slotLength = longest + 1;
  const size_t slots = static_cast<size_t>(count);
  size_t blockBytes = 0;
  if (!TagBlockBytes(count, slotLength, &blockBytes)) {
    result.noMemory = 1;
    browse->Release();
    return table;
  }
  wchar_t *block = static_cast<wchar_t *>(calloc(blockBytes / sizeof(wchar_t), sizeof(wchar_t)));
  wchar_t **entries = static_cast<wchar_t **>(calloc(slots, sizeof(wchar_t *)));
  if (slots != 0 && (block == nullptr || entries == nullptr)) {
    free(block);
    free(entries);
    result.noMemory = 1;
    browse->Release();
    return table;
  }
  table.count = count;
  table.slotLength = static_cast<LONG>(slotLength);
  table.block = block;
  table.entries = entries;

  // Second enumeration: fill the slots in delivery order; no name is asked
  // for once every slot is filled.
  result.secondBrowse = BrowseFlat(browse, &names);
  if (SUCCEEDED(result.secondBrowse)) {
    for (LONG i = 0; i < count;) {
      if (stopRequested()) {
        names->Release();
        browse->Release();
        FreeTagNameTable(table);
        return table;
      }
      LPOLESTR name = NextName(names);
      if (name == nullptr) break;
      wchar_t *slot = block + static_cast<size_t>(i) * slotLength;
      const size_t length = wcslen(name);
      const bool fits = length < slotLength;
      if (fits) memcpy(slot, name, (length + 1) * sizeof(wchar_t));
      CoTaskMemFree(name);
      if (!fits) {
        result.longerName = 1;
        names->Release();
        browse->Release();
        FreeTagNameTable(table);
        return table;
      }
      entries[i] = slot;
      result.filled = ++i;
    }
    names->Release();
  }

  browse->Release();
  return table;
}

int TagBlockBytes(LONG count, size_t slotLength, size_t *bytes) {
  *bytes = 0;
  if (count < 0 || slotLength > static_cast<size_t>(LONG_MAX)) return 0;
  const size_t slots = static_cast<size_t>(count);
  if (slots != 0 && slotLength > SIZE_MAX / sizeof(wchar_t) / slots) return 0;
  *bytes = slots * slotLength * sizeof(wchar_t);
  return 1;
}

void FreeTagNameTable(TagNameTable &table) {
  free(table.block);
  free(table.entries);
  table = EmptyTable();
}
