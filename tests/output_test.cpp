// UTF-16 to UTF-8 for redirected standard output: every character intact,
// pairs joined, lone surrogates replaced, and a full buffer cut only
// between characters. Names as shown: controls, format characters,
// separators, default-ignorable code points and lone surrogates escaped,
// nothing else touched, every shown name readable back to one.
#include "output.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "com_test.h"

namespace {

class OutputTest : public ComTest {};

std::string Utf8(const std::wstring &text, size_t capacity = 64) {
  std::string buffer(capacity, '\x7f');
  const size_t used = WideToUtf8(text.data(), text.size(), &buffer[0], capacity);
  EXPECT_LT(used, capacity);
  EXPECT_EQ('\0', buffer[used]) << "no terminator after " << used << " bytes";
  return buffer.substr(0, used);
}

TEST_F(OutputTest, EncodesEveryPlaneAndReplacesLoneSurrogates) {
  const struct {
    std::wstring text;
    std::string utf8;
  } cases[] = {
      {L"Tag.1", "Tag.1"},
      {L"Temp_\u00b0C", "Temp_\xc2\xb0" "C"},
      {L"\u540d\u524d", "\xe5\x90\x8d\xe5\x89\x8d"},
      {L"\xd83d\xde00", "\xf0\x9f\x98\x80"},  // U+1F600 as a surrogate pair
      {L"a\xd83d" L"b", "a\xef\xbf\xbd" "b"},  // high surrogate alone
      {L"\xde00" L"c", "\xef\xbf\xbd" "c"},    // low surrogate alone
      {L"z\xd83d", "z\xef\xbf\xbd"},          // high surrogate at the end
      {L"\uffff\u0800\u07ff\u0080\u007f", "\xef\xbf\xbf\xe0\xa0\x80\xdf\xbf\xc2\x80\x7f"},
  };
  for (const auto &c : cases) EXPECT_EQ(c.utf8, Utf8(c.text)) << "for " << testing::PrintToString(c.text);
}

TEST_F(OutputTest, FullBufferIsCutBetweenCharacters) {
  // Three bytes per character: 8 bytes of room (7 and the terminator) hold
  // two characters, never a part of the third.
  EXPECT_EQ("\xe5\x90\x8d\xe5\x89\x8d", Utf8(L"\u540d\u524d\u540d", 8));
  EXPECT_EQ("", Utf8(L"\xd83d\xde00", 4));
  EXPECT_EQ("\xf0\x9f\x98\x80", Utf8(L"\xd83d\xde00", 5));
  char none = 'x';
  EXPECT_EQ(0u, WideToUtf8(L"abc", 3, &none, 0));
  EXPECT_EQ('x', none);
}

std::vector<std::wstring> g_devices;

void ToStandardOutput(const wchar_t *text, size_t length) { g_devices.push_back(L"out " + std::wstring(text, length)); }
void ToConsoleDevice(const wchar_t *text, size_t length) { g_devices.push_back(L"con " + std::wstring(text, length)); }

TEST_F(OutputTest, StandardOutputWaitsForAFlushOrTheConsoleDeviceAndGoesOutInLargePieces) {
  const TextWriter capture = SetStandardOutputWriter(nullptr);
  const OutputDevices platform = SetOutputDevices({ToStandardOutput, ToConsoleDevice});
  g_devices.clear();

  PutLine("found the following tags:");
  PutNameLine(L"Tag\x1B");
  const size_t beforeDevice = g_devices.size();
  WriteConsoleDevice(L"[record]", 8);
  PutText("x");
  ClearConsoleDevice();
  PutWideText(L"OPC.Brenvick.1");
  PutText(" not instantiated");
  FlushStandardOutput();
  FlushStandardOutput();
  const std::wstring longText(2 * GATHER_UNITS + 10, L'n');
  PutWideText(longText.c_str());
  const size_t beforeLastFlush = g_devices.size();
  FlushStandardOutput();

  SetOutputDevices(platform);
  SetStandardOutputWriter(capture);
  EXPECT_EQ(0u, beforeDevice) << "standard output written before a flush";
  EXPECT_EQ(6u, beforeLastFlush) << "a full gather waited for the flush";
  const std::vector<std::wstring> expected = {
      L"out found the following tags:\nTag\\x1B\n",
      L"con [record]",
      L"out x",
      L"out OPC.Brenvick.1 not instantiated",
      L"out " + std::wstring(GATHER_UNITS, L'n'),
      L"out " + std::wstring(GATHER_UNITS, L'n'),
      L"out " + std::wstring(10, L'n'),
  };
  EXPECT_EQ(expected, g_devices);
}

std::wstring g_shown;

void Show(const wchar_t *text, size_t length) { g_shown.append(text, length); }

std::wstring Shown(const std::wstring &name) {
  g_shown.clear();
  TextGather gather;
  gather.writer = Show;
  gather.used = 0;
  GatherName(gather, name.c_str());
  FlushGather(gather);
  return g_shown;
}

TEST_F(OutputTest, ShowsControlsFormatIgnorableWhiteSpaceAndLoneSurrogatesAsEscapesAndAllElseAsDelivered) {
  const struct {
    std::wstring name;
    std::wstring shown;
  } cases[] = {
      {L"Tag.1", L"Tag.1"},
      {L"\x1B]0;title\x07", L"\\x1B]0;title\\x07"},
      {L"\x1F \x7E\x7F", L"\\x1F ~\\x7F"},
      {L"\x80\x9B\x9F\xA0\xA1", L"\\x80\\x9B\\x9F\\u00A0\xA1"},
      // Format characters, separators, blanks and default-ignorable code points,
      // an unassigned one among them, beside visible neighbours.
      {L"\u2027\u2028\u2029\u202E\u202F\u2030 \u2064\u2065\u2066 \u0600\uFFFB\uFFFC",
       L"\u2027\\u2028\\u2029\\u202E\\u202F\u2030 \\u2064\\u2065\\u2066 \\u0600\\uFFFB\uFFFC"},
      // A pair is one character, classified whole: shown as it is unless
      // it is escaped itself, beyond U+FFFF with eight digits.
      {L"Temp_\u00b0C \u540d \xD83D\xDE00", L"Temp_\u00b0C \u540d \xD83D\xDE00"},
      {L"\xDB40\xDC41 \xD834\xDD73 \xD834\xDD72", L"\\U000E0041 \\U0001D173 \xD834\xDD72"},
      // A surrogate alone shows as its code, so it never looks like
      // U+FFFD, which passes as it is.
      {L"A\xD800|A\xDC00|A\uFFFD", L"A\\uD800|A\\uDC00|A\uFFFD"},
      {L"\xDE00\xD83D", L"\\uDE00\\uD83D"},
      {L"\xD83D\xD83D\xDE00\xDE00", L"\\uD83D\xD83D\xDE00\\uDE00"},
      // A backslash is doubled only where what follows could read as an
      // escape or as a doubled backslash.
      {L"Line1\\Valve \\X", L"Line1\\Valve \\X"},
      {L"C:\\x1B \\u202E \\U000E0041", L"C:\\\\x1B \\\\u202E \\\\U000E0041"},
      {L"a\\\\b", L"a\\\\\\b"},
      {L"\\\x1B", L"\\\\\\x1B"},
      {L"\\\u200F \\\xDC00 \\\xD83D", L"\\\\\\u200F \\\\\\uDC00 \\\\\\uD83D"},
      {L"\\\xD83D\xDE00 \\\xDB40\xDC41", L"\\\xD83D\xDE00 \\\\\\U000E0041"},
      {L"end\\", L"end\\"},
      {L"", L""},
  };
  for (const auto &c : cases) EXPECT_EQ(c.shown, Shown(c.name)) << "for " << testing::PrintToString(c.name);
  g_shown.clear();
  TextGather gather = {Show, 0, {}};
  GatherName(gather, nullptr);
  FlushGather(gather);
  EXPECT_EQ(L"", g_shown);
}

// Reads a shown name back: \\ is one backslash, \xHH, \uHHHH and
// \UHHHHHHHH one character, any other backslash itself.
std::wstring ReadBack(const std::wstring &shown) {
  std::wstring name;
  for (size_t i = 0; i < shown.size(); ++i) {
    const wchar_t next = i + 1 < shown.size() ? shown[i + 1] : L'\0';
    if (shown[i] != L'\\' || (next != L'\\' && next != L'x' && next != L'u' && next != L'U')) {
      name += shown[i];
    } else if (next == L'\\') {
      name += L'\\';
      ++i;
    } else {
      const size_t digits = next == L'x' ? 2 : next == L'u' ? 4 : 8;
      const unsigned long code = std::stoul(std::wstring(shown, i + 2, digits), nullptr, 16);
      if (code > 0xFFFF) {
        name += static_cast<wchar_t>(0xD800 + ((code - 0x10000) >> 10));
        name += static_cast<wchar_t>(0xDC00 + ((code - 0x10000) & 0x3FF));
      } else {
        name += static_cast<wchar_t>(code);
      }
      i += 1 + digits;
    }
  }
  return name;
}

// Whether a shown name holds a surrogate that is not half of a pair.
bool HoldsLoneSurrogate(const std::wstring &shown) {
  for (size_t i = 0; i < shown.size(); ++i) {
    const wchar_t c = shown[i];
    const bool paired = c >= 0xD800 && c <= 0xDBFF && i + 1 < shown.size() && shown[i + 1] >= 0xDC00 &&
                        shown[i + 1] <= 0xDFFF;
    if (paired) {
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      return true;
    }
  }
  return false;
}

TEST_F(OutputTest, EveryShownNameReadsBackToTheNameAndHoldsNoControl) {
  // Every name of up to four characters from those that meet at the edges
  // of the escapes: the halves of two pairs among them, one shown as it is
  // and one escaped, alone, reversed and joined.
  const wchar_t alphabet[] = {L'\\',     L'x',      L'u',      L'U',     L'1',      L'B',     L'\x1B',
                              L'\x85',    L'\u202E', L'\u200F', L'\xD83D', L'\xDE00', L'\xDB40', L'\xDC41'};
  std::vector<std::wstring> names = {L""};
  for (size_t start = 0, length = 0; length < 4; ++length) {
    const size_t end = names.size();
    for (size_t i = start; i < end; ++i) {
      for (wchar_t c : alphabet) names.push_back(names[i] + c);
    }
    start = end;
  }
  for (const std::wstring &name : names) {
    const std::wstring shown = Shown(name);
    ASSERT_EQ(name, ReadBack(shown)) << "shown as " << testing::PrintToString(shown);
    // 0xDB40 starts only pairs of tag characters and variation selectors,
    // all escaped; 0xDC41 after 0xD83D is a visible character.
    for (wchar_t c : shown) {
      ASSERT_TRUE(c >= 0x20 && c != 0x7F && c != 0x85 && c != 0x202E && c != 0x200F && c != 0xDB40)
          << "in " << testing::PrintToString(shown);
    }
    ASSERT_FALSE(HoldsLoneSurrogate(shown)) << "in " << testing::PrintToString(shown);
  }
}

}  // namespace
