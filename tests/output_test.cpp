// UTF-16 to UTF-8 for redirected standard output: every character intact,
// pairs joined, lone surrogates replaced, and a full buffer cut only
// between characters.
#include "output.h"

#include <gtest/gtest.h>

#include <string>

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

}  // namespace
