#include "address_space.h"

#include <climits>
#include <cmath>
#include <cstdint>
#include <cwchar>
#include <utility>

namespace simserver {
namespace {

constexpr WORD kGood = 0xC0;
constexpr WORD kBad = 0x00;
constexpr WORD kUncertain = 0x40;
constexpr WORD kNotConnected = 0x08;
constexpr WORD kCommFailure = 0x18;

constexpr double kPi = 3.14159265358979323846;

FILETIME MakeFileTime(ULONGLONG ticks) {
  FILETIME ft;
  ft.dwLowDateTime = static_cast<DWORD>(ticks & 0xFFFFFFFFu);
  ft.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
  return ft;
}

// 2026-01-02 13:05:09 UTC and 2001-09-09 01:46:40 UTC.
constexpr ULONGLONG kFixedStamp = 134118327090000000ULL;
constexpr ULONGLONG kOldStamp = 126444736000000000ULL;
// A stamp no calendar conversion accepts (top bit set).
constexpr ULONGLONG kInvalidStamp = 0x8000000000000000ULL;

Tag Make(const wchar_t *id, VARTYPE type, Wave wave, double base, double span, DWORD period_ms) {
  Tag tag;
  tag.id = id;
  tag.type = type;
  tag.wave = wave;
  tag.base = base;
  tag.span = span;
  tag.period_ms = period_ms;
  return tag;
}

Tag Constant(const wchar_t *id, VARTYPE type, double value, WORD quality = kGood) {
  Tag tag = Make(id, type, Wave::Constant, value, 0, 1000);
  tag.quality = quality;
  return tag;
}

Tag Text(const wchar_t *id, const wchar_t *text) {
  Tag tag = Make(id, VT_BSTR, Wave::Constant, 0, 0, 1000);
  tag.text = text;
  return tag;
}

Tag Stamped(Tag tag, ULONGLONG stamp) {
  tag.fixed_stamp = true;
  tag.stamp = MakeFileTime(stamp);
  return tag;
}

ULONGLONG Mix(ULONGLONG x) {
  x += 0x9E3779B97F4A7C15ULL;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ULL;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBULL;
  return x ^ (x >> 31);
}

ULONGLONG HashId(const std::wstring &id) {
  ULONGLONG h = 1469598103934665603ULL;
  for (wchar_t c : id) {
    h ^= static_cast<ULONGLONG>(static_cast<unsigned>(c));
    h *= 1099511628211ULL;
  }
  return h;
}

double NumericValue(const Tag &tag, ULONGLONG now) {
  const ULONGLONG now_ms = now / 10000;
  const DWORD period = tag.period_ms == 0 ? 1 : tag.period_ms;
  const ULONGLONG step = now_ms / period;
  switch (tag.wave) {
    case Wave::Constant:
    case Wave::ClockText:
      return tag.base;
    case Wave::Ramp: {
      const ULONGLONG span = tag.span < 1 ? 1 : static_cast<ULONGLONG>(tag.span);
      return tag.base + static_cast<double>((step + tag.phase) % span);
    }
    case Wave::Sine: {
      const double fraction = static_cast<double>(now_ms % period) / period;
      return tag.base + tag.span * std::sin(2 * kPi * fraction);
    }
    case Wave::Random: {
      const double unit = static_cast<double>(Mix(step ^ HashId(tag.id)) >> 11) / 9007199254740992.0;
      return tag.base + std::floor(unit * (tag.span + 1));
    }
    case Wave::Square:
      return (step % 2) != 0 ? tag.base + tag.span : tag.base;
  }
  return tag.base;
}

double Clamp(double v, double lo, double hi) { return v < lo ? lo : (v > hi ? hi : v); }

}  // namespace

void AddressSpace::Add(Tag tag) {
  if (index_.find(tag.id) != index_.end()) return;
  index_.emplace(tag.id, tags_.size());
  tags_.push_back(std::move(tag));
}

void AddressSpace::Reserve(size_t count) {
  tags_.reserve(count);
  index_.reserve(count);
}

size_t AddressSpace::Find(const wchar_t *id) const {
  if (id == nullptr) return npos;
  const auto it = index_.find(id);
  return it == index_.end() ? npos : it->second;
}

ULONGLONG CurrentFileTime() {
  FILETIME ft;
  GetSystemTimeAsFileTime(&ft);
  return (static_cast<ULONGLONG>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

HRESULT ReadTag(const Tag &tag, ULONGLONG now, VARIANT *value, WORD *quality, FILETIME *stamp) {
  *quality = tag.quality;
  *stamp = tag.fixed_stamp ? tag.stamp : MakeFileTime(now);
  const double v = NumericValue(tag, now);
  switch (tag.type) {
    case VT_I2:
      V_VT(value) = VT_I2;
      V_I2(value) = static_cast<SHORT>(std::lround(Clamp(v, SHRT_MIN, SHRT_MAX)));
      return S_OK;
    case VT_I4:
      V_VT(value) = VT_I4;
      V_I4(value) = static_cast<LONG>(std::llround(Clamp(v, INT32_MIN, INT32_MAX)));
      return S_OK;
    case VT_R8:
      V_VT(value) = VT_R8;
      V_R8(value) = v;
      return S_OK;
    case VT_BOOL:
      V_VT(value) = VT_BOOL;
      V_BOOL(value) = v != 0 ? VARIANT_TRUE : VARIANT_FALSE;
      return S_OK;
    case VT_BSTR: {
      wchar_t clock[16] = L"";
      const wchar_t *text = tag.text.c_str();
      if (tag.wave == Wave::ClockText) {
        SYSTEMTIME st;
        const FILETIME ft = MakeFileTime(now);
        if (FileTimeToSystemTime(&ft, &st)) {
          swprintf(clock, sizeof clock / sizeof clock[0], L"%02u:%02u:%02u", static_cast<unsigned>(st.wHour),
                   static_cast<unsigned>(st.wMinute), static_cast<unsigned>(st.wSecond));
        }
        text = clock;
      }
      BSTR copy = SysAllocString(text);
      if (copy == nullptr) return E_OUTOFMEMORY;
      V_VT(value) = VT_BSTR;
      V_BSTR(value) = copy;
      return S_OK;
    }
    default:
      V_VT(value) = VT_EMPTY;
      return S_OK;
  }
}

AddressSpace BuildDefaultSpace() {
  AddressSpace space;
  space.Add(Make(L"Sim.Ramp.Int16", VT_I2, Wave::Ramp, 0, 1000, 1000));
  space.Add(Make(L"Sim.Ramp.Fast.Int16", VT_I2, Wave::Ramp, 0, 32768, 100));
  space.Add(Make(L"Sim.Ramp.Int32", VT_I4, Wave::Ramp, 0, 1000000, 100));
  space.Add(Make(L"Sim.Sine.Int16", VT_I2, Wave::Sine, 0, 1000, 60000));
  space.Add(Make(L"Sim.Sine.Int32", VT_I4, Wave::Sine, 0, 100000, 60000));
  space.Add(Make(L"Sim.Sine.Real", VT_R8, Wave::Sine, 0, 100, 60000));
  space.Add(Make(L"Sim.Random.Int16", VT_I2, Wave::Random, SHRT_MIN, 65535, 1000));
  space.Add(Make(L"Sim.Random.Int32", VT_I4, Wave::Random, INT32_MIN, 4294967295.0, 1000));
  space.Add(Make(L"Sim.Counter.Int32", VT_I4, Wave::Ramp, 0, INT32_MAX, 1000));
  space.Add(Make(L"Sim.Square.Bool", VT_BOOL, Wave::Square, 0, 1, 5000));
  space.Add(Make(L"Sim.Clock.Text", VT_BSTR, Wave::ClockText, 0, 0, 1000));
  space.Add(Text(L"Sim.Text.Static", L"Brenvick simulation"));
  space.Add(Text(L"Sim.Text.Empty", L""));
  space.Add(Constant(L"Sim.Real.Pi", VT_R8, kPi));
  space.Add(Constant(L"Sim.Bool.True", VT_BOOL, 1));
  space.Add(Constant(L"Limits.Int16.Min", VT_I2, SHRT_MIN));
  space.Add(Constant(L"Limits.Int16.Max", VT_I2, SHRT_MAX));
  space.Add(Constant(L"Limits.Int32.Min", VT_I4, INT32_MIN));
  space.Add(Constant(L"Limits.Int32.Max", VT_I4, INT32_MAX));
  space.Add(Make(L"Quality.Good", VT_I2, Wave::Ramp, 0, 100, 1000));
  space.Add(Constant(L"Quality.Bad", VT_I2, 0, kBad));
  space.Add(Constant(L"Quality.NotConnected", VT_I2, 0, kNotConnected));
  space.Add(Constant(L"Quality.CommFailure", VT_I2, 0, kCommFailure));
  space.Add(Constant(L"Quality.Uncertain", VT_I2, 7, kUncertain));
  space.Add(Stamped(Constant(L"Time.Old", VT_I2, 42), kOldStamp));
  space.Add(Make(L"Temp_\u00B0C", VT_R8, Wave::Sine, 21.5, 2, 120000));
  space.Add(Make(L"Druck_bar_\u00FC", VT_R8, Wave::Sine, 1.013, 0.02, 90000));
  space.Add(Text(L"\u540D\u524D", L"Gr\u00FC\u00DFe \u540D\u524D"));
  return space;
}

AddressSpace BuildFixedSpace() {
  AddressSpace space;
  space.Add(Stamped(Constant(L"Int16.Fixed", VT_I2, -5), kFixedStamp));
  space.Add(Stamped(Constant(L"Int32.Fixed", VT_I4, 100000), kFixedStamp));
  space.Add(Stamped(Constant(L"Temp_\u00B0C", VT_I2, 215), kFixedStamp));
  space.Add(Stamped(Constant(L"\u540D\u524D", VT_I4, -70000), kFixedStamp));
  space.Add(Stamped(Text(L"Text.Fixed", L"hello"), kFixedStamp));
  space.Add(Stamped(Constant(L"Empty.Fixed", VT_EMPTY, 0, kBad), kFixedStamp));
  space.Add(Stamped(Constant(L"Stamp.Bad", VT_I2, 1, kUncertain), kInvalidStamp));
  return space;
}

AddressSpace BuildEmptySpace() { return AddressSpace(); }

namespace {

AddressSpace BuildNumberedSpace(unsigned count, const wchar_t *format) {
  AddressSpace space;
  space.Reserve(count);
  for (unsigned i = 0; i < count; ++i) {
    wchar_t id[32];
    swprintf(id, sizeof id / sizeof id[0], format, i);
    Tag tag = Make(id, VT_I2, Wave::Ramp, 0, 1000, 1000);
    tag.phase = i;
    space.Add(std::move(tag));
  }
  return space;
}

}  // namespace

AddressSpace BuildLargeSpace() { return BuildNumberedSpace(10000, L"Large.Tag.%05u"); }

AddressSpace BuildThousandSpace() { return BuildNumberedSpace(1000, L"Large.Tag.%05u"); }

AddressSpace BuildHugeSpace() { return BuildNumberedSpace(100000, L"Huge.Tag.%06u"); }

// Names that act on a terminal when shown raw: a window title, the cursor
// sent home, a bare CR, an 8-bit CSI, a bidirectional override and isolate,
// DEL; names that reorder or break the line or cannot be told apart: a
// trailing right-to-left mark, line and paragraph separators, zero-width
// characters, a surrogate without its pair beside the replacement character
// it must not look like, and thirteen names that all look like "Pump": a
// variation selector, a grapheme joiner, tag characters, fillers, an
// unassigned ignorable code point, musical format characters and a no-break
// space after it, those beyond U+FFFF as surrogate pairs; beside them
// backslashes and non-ASCII that must stay as they are.
AddressSpace BuildHostileNamesSpace() {
  const wchar_t *const names[] = {
      L"Title\x1B]0;pwned\x07",    L"\x1B[1;1HHome",       L"Over\rWrite",    L"Bidi\u202Eevil",
      L"Csi\x9B" L"2J",             L"Del\x7F.Isolate\u2066", L"Back\\x1B", L"Line1\\Valve",
      L"Temp_\u00B0C",             L"Rtl\u200F",            L"Sep\u2028Para\u2029", L"Zw\u200B\uFEFF\u00AD",
      L"Lone\xD800",               L"Lone\uFFFD",
      L"Pump\uFE0F",               L"Pump\u034F",           L"Pump\U000E0041", L"Pump\u3164",
      L"Pump\u2065",               L"Pump\u115F",           L"Pump\U000E0100", L"Pump\u17B4",
      L"Pump\u180B",               L"Pump\uFFA0",           L"Pump\U0001D173", L"Pump\u00A0",
      L"Pump",
  };
  AddressSpace space;
  short value = 1;
  for (const wchar_t *name : names) space.Add(Stamped(Constant(name, VT_I2, value++), kFixedStamp));
  return space;
}

}  // namespace simserver
