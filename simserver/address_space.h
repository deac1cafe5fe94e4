// The simulated tags: their definitions, the flat address space that holds
// them in browse order with an index by item ID, and how a tag's value is
// computed from the current time.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <cstddef>
#include <string>
#include <unordered_map>
#include <vector>

namespace simserver {

// How a tag's value follows the clock. All of them are computed on demand
// from the time of the read; nothing runs in the background.
enum class Wave {
  Constant,   // base (or text for VT_BSTR)
  Ramp,       // base + (step + phase) mod span, one step per period
  Sine,       // base + span * sin(2 pi * time / period)
  Random,     // base + a pseudo-random whole number in [0, span], new each period
  Square,     // base and base + span alternating each period
  ClockText,  // the current UTC time as "hh:mm:ss"
};

struct Tag {
  std::wstring id;
  VARTYPE type = VT_EMPTY;  // canonical type, also the type of every value read
  WORD quality = 0xC0;
  Wave wave = Wave::Constant;
  double base = 0;
  double span = 0;
  DWORD period_ms = 1000;
  DWORD phase = 0;
  std::wstring text;
  bool fixed_stamp = false;  // stamp below instead of the time of the read
  FILETIME stamp = {0, 0};
};

class AddressSpace {
 public:
  static constexpr size_t npos = static_cast<size_t>(-1);

  // Tags keep the order they were added in; an ID added twice is ignored.
  void Add(Tag tag);
  void Reserve(size_t count);

  size_t size() const { return tags_.size(); }
  const Tag &at(size_t index) const { return tags_[index]; }
  size_t Find(const wchar_t *id) const;

 private:
  std::vector<Tag> tags_;
  std::unordered_map<std::wstring, size_t> index_;
};

// The time used for values and time stamps, in 100 ns units since 1601 (UTC).
ULONGLONG CurrentFileTime();

// Fills value (which must be empty on entry), quality and stamp for the tag
// as of now. Fails only when a string cannot be allocated.
HRESULT ReadTag(const Tag &tag, ULONGLONG now, VARIANT *value, WORD *quality, FILETIME *stamp);

AddressSpace BuildDefaultSpace();
AddressSpace BuildFixedSpace();
AddressSpace BuildEmptySpace();
AddressSpace BuildLargeSpace();     // 10,000 tags
AddressSpace BuildThousandSpace();  // the first 1,000 of them
AddressSpace BuildHugeSpace();      // 100,000 tags
AddressSpace BuildHostileNamesSpace();

}  // namespace simserver
