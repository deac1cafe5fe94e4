// How text a server handed over is shown, and the gathering of text into
// large pieces; see escaping.h. No platform calls.
#include "escaping.h"

#include <algorithm>
#include <cwchar>

namespace {

// A full gather goes out, but a pair's first half at its end waits for the
// second.
void WriteFullGather(TextGather &gather) {
  size_t count = gather.used;
  if (count > 1 && IsHighSurrogate(gather.text[count - 1])) --count;
  gather.writer(gather.text, count);
  wmemmove(gather.text, gather.text + count, gather.used - count);
  gather.used -= count;
}

bool IsControl(char32_t c) { return c < 0x20 || (c >= 0x7F && c <= 0x9F); }

struct CodePointRange {
  char32_t first;
  char32_t last;
};

// Characters that are not seen yet change what is shown: they reorder the
// line, break it in some viewers, or take no room, so that two different
// names look alike. Unicode's own properties say which they are.
constexpr CodePointRange kEscapedRanges[] = {
#include "escaped_code_points.inc"
};

}  // namespace

NameCharacter CharacterAt(const wchar_t *at) {
  if (IsHighSurrogate(at[0]) && IsLowSurrogate(at[1])) {
    return {0x10000 + ((static_cast<char32_t>(at[0]) - 0xD800) << 10) + (static_cast<char32_t>(at[1]) - 0xDC00), 2};
  }
  return {static_cast<char32_t>(at[0]), 1};
}

bool IsEscaped(char32_t c) {
  if (c >= 0x20 && c < 0x7F) return false;  // printable ASCII, most of every name
  if (IsControl(c) || (c >= 0xD800 && c <= 0xDFFF)) return true;
  const CodePointRange *end = kEscapedRanges + sizeof kEscapedRanges / sizeof kEscapedRanges[0];
  const CodePointRange *after =
      std::upper_bound(kEscapedRanges, end, c, [](char32_t code, const CodePointRange &r) { return code < r.first; });
  return after != kEscapedRanges && c <= after[-1].last;
}

namespace {

void GatherEscape(TextGather &gather, char32_t c) {
  wchar_t escape[12];
  const int length = IsControl(c)  ? swprintf(escape, 12, L"\\x%02X", static_cast<unsigned>(c))
                     : c > 0xFFFF ? swprintf(escape, 12, L"\\U%08X", static_cast<unsigned>(c))
                                  : swprintf(escape, 12, L"\\u%04X", static_cast<unsigned>(c));
  GatherText(gather, escape, static_cast<size_t>(length));
}

}  // namespace

void GatherText(TextGather &gather, const wchar_t *text, size_t length) {
  while (length > 0) {
    if (gather.used == GATHER_UNITS) WriteFullGather(gather);
    const size_t room = GATHER_UNITS - gather.used;
    const size_t take = length < room ? length : room;
    wmemcpy(gather.text + gather.used, text, take);
    gather.used += take;
    text += take;
    length -= take;
  }
}

void GatherName(TextGather &gather, const wchar_t *name) {
  if (name == nullptr) return;
  const wchar_t *run = name;
  for (const wchar_t *at = name; *at != L'\0';) {
    const NameCharacter c = CharacterAt(at);
    const wchar_t *next = at + c.units;
    if (c.code == U'\\') {
      // Doubled only before what would read as an escape or as a doubled
      // backslash, so that every shown name reads back to one name: it
      // ends this run and starts the next.
      const char32_t after = CharacterAt(next).code;
      if (after == U'\\' || after == U'x' || after == U'u' || after == U'U' || (after != 0 && IsEscaped(after))) {
        GatherText(gather, run, static_cast<size_t>(next - run));
        run = at;
      }
    } else if (IsEscaped(c.code)) {
      GatherText(gather, run, static_cast<size_t>(at - run));
      GatherEscape(gather, c.code);
      run = next;
    }
    at = next;
  }
  GatherText(gather, run, wcslen(run));
}

void FlushGather(TextGather &gather) {
  if (gather.used > 0) gather.writer(gather.text, gather.used);
  gather.used = 0;
}

namespace {

thread_local std::wstring *t_shown = nullptr;
void AppendShown(const wchar_t *text, size_t length) { t_shown->append(text, length); }

}  // namespace

std::wstring Shown(const std::wstring &text) {
  std::wstring shown;
  std::wstring *outer = t_shown;
  t_shown = &shown;
  TextGather gather;
  gather.writer = AppendShown;
  gather.used = 0;
  GatherName(gather, text.c_str());
  FlushGather(gather);
  t_shown = outer;
  return shown;
}

std::wstring Widened(const char *text) {
  std::wstring wide;
  for (; *text != '\0'; ++text) wide += static_cast<wchar_t>(static_cast<unsigned char>(*text));
  return wide;
}

std::wstring ShownPath(const std::wstring &path) {
  std::wstring shown;
  for (const wchar_t *at = path.c_str(); *at != L'\0';) {
    const NameCharacter c = CharacterAt(at);
    if (c.code == U'<' || IsEscaped(c.code)) {
      wchar_t mark[16];
      swprintf(mark, sizeof mark / sizeof mark[0], L"<U+%04X>", static_cast<unsigned>(c.code));
      shown += mark;
    } else {
      shown.append(at, c.units);
    }
    at += c.units;
  }
  return shown;
}

std::wstring Normalised(const std::wstring &text) {
  std::wstring line;
  for (wchar_t c : text) {
    const bool lineBreak = c == L'\r' || c == L'\n';
    if (!lineBreak) {
      line += c;
    } else if (!line.empty() && line.back() != L' ') {
      line += L' ';
    }
  }
  while (!line.empty() && (line.back() == L' ' || line.back() == L'\t')) line.pop_back();
  return line;
}
