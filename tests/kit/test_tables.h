// Name and handle tables as the browse and group stages build them, made
// from plain lists for the tests of the stages that take them.
#pragma once

#include <cwchar>
#include <string>
#include <vector>

#include "browse.h"

// A TagNameTable over the given names; a null name is an entry the second
// browse left empty.
class TestNameTable {
 public:
  explicit TestNameTable(const std::vector<const wchar_t *> &names) {
    size_t longest = 0;
    for (const wchar_t *name : names) {
      if (name != nullptr && std::wcslen(name) > longest) longest = std::wcslen(name);
    }
    const size_t slot = longest + 1;
    block_.assign(names.size() * slot + 1, L'\0');
    for (size_t i = 0; i < names.size(); ++i) {
      wchar_t *entry = nullptr;
      if (names[i] != nullptr) {
        entry = block_.data() + i * slot;
        std::wmemcpy(entry, names[i], std::wcslen(names[i]));
      }
      entries_.push_back(entry);
    }
    entries_.push_back(nullptr);
    table_ = TagNameTable{static_cast<LONG>(names.size()), static_cast<LONG>(slot), block_.data(), entries_.data()};
  }

  // prefix1, prefix2, ... prefixN
  static TestNameTable Numbered(const std::wstring &prefix, size_t count) {
    std::vector<std::wstring> texts;
    for (size_t i = 1; i <= count; ++i) texts.push_back(prefix + std::to_wstring(i));
    std::vector<const wchar_t *> names;
    for (const std::wstring &text : texts) names.push_back(text.c_str());
    return TestNameTable(names);
  }

  TestNameTable(const TestNameTable &) = delete;
  TestNameTable &operator=(const TestNameTable &) = delete;
  TestNameTable(TestNameTable &&) = default;

  const TagNameTable &table() const { return table_; }

 private:
  std::vector<wchar_t> block_;
  std::vector<wchar_t *> entries_;
  TagNameTable table_;
};
