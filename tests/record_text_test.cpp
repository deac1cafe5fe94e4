// The three texts of a display record: value, time and quality of one
// sample. Each text is checked against a table of cases; the time text also
// under a 12-hour user locale, in a time zone other than UTC (this test runs
// with TZ=America/New_York, which Wine maps to the process's zone) and with
// a formatter that fails.
#include "record_text.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "com_test.h"

namespace {

using ValueTextTest = ComTest;
using QualityTextTest = ComTest;
using TimeTextTest = ComTest;

// ---- value text ----------------------------------------------------------

// Puts one kind of value into an empty variant; what it allocates the test
// clears with VariantClear.
typedef void (*MakeValue)(VARIANT &value);

SHORT g_referencedShort = 215;
LONG g_referencedLong = 215;

struct ValueCase {
  const char *what;
  MakeValue make;
  const char *expected;
};

const ValueCase VALUE_CASES[] = {
    {"VT_I2 -5", [](VARIANT &v) { v.vt = VT_I2; v.iVal = -5; }, "-5"},
    {"VT_I2 0", [](VARIANT &v) { v.vt = VT_I2; v.iVal = 0; }, "0"},
    {"VT_I2 -32768", [](VARIANT &v) { v.vt = VT_I2; v.iVal = -32768; }, "-32768"},
    {"VT_I2 32767", [](VARIANT &v) { v.vt = VT_I2; v.iVal = 32767; }, "32767"},
    // Only the 16 bits of an VT_I2 count, whatever the bytes beyond hold.
    {"VT_I2 -5 over stale upper bytes", [](VARIANT &v) { v.llVal = 0x12345678'0001FFFBLL; v.vt = VT_I2; }, "-5"},
    {"VT_I4 70000", [](VARIANT &v) { v.vt = VT_I4; v.lVal = 70000; }, "70000"},
    {"VT_I4 -70000", [](VARIANT &v) { v.vt = VT_I4; v.lVal = -70000; }, "-70000"},
    {"VT_I4 -32769", [](VARIANT &v) { v.vt = VT_I4; v.lVal = -32769; }, "-32769"},
    {"VT_I4 INT32_MIN", [](VARIANT &v) { v.vt = VT_I4; v.lVal = INT32_MIN; }, "-2147483648"},
    {"VT_I4 INT32_MAX", [](VARIANT &v) { v.vt = VT_I4; v.lVal = INT32_MAX; }, "2147483647"},
    {"VT_EMPTY", [](VARIANT &v) { v.vt = VT_EMPTY; }, "?"},
    {"VT_NULL", [](VARIANT &v) { v.vt = VT_NULL; }, ""},
    {"VT_BSTR \"215\"", [](VARIANT &v) { v.vt = VT_BSTR; v.bstrVal = SysAllocString(L"215"); }, ""},
    {"VT_R8 215.0", [](VARIANT &v) { v.vt = VT_R8; v.dblVal = 215.0; }, ""},
    {"VT_BOOL true", [](VARIANT &v) { v.vt = VT_BOOL; v.boolVal = VARIANT_TRUE; }, ""},
    {"VT_I1 -5", [](VARIANT &v) { v.vt = VT_I1; v.cVal = -5; }, ""},
    {"VT_UI2 7", [](VARIANT &v) { v.vt = VT_UI2; v.uiVal = 7; }, ""},
    {"VT_I2|VT_BYREF", [](VARIANT &v) { v.vt = VT_I2 | VT_BYREF; v.piVal = &g_referencedShort; }, ""},
    {"VT_I4|VT_BYREF", [](VARIANT &v) { v.vt = VT_I4 | VT_BYREF; v.plVal = &g_referencedLong; }, ""},
    {"VT_ARRAY|VT_I2", [](VARIANT &v) { v.vt = VT_ARRAY | VT_I2; v.parray = SafeArrayCreateVector(VT_I2, 0, 2); },
     ""},
    {"VT_ARRAY|VT_I4", [](VARIANT &v) { v.vt = VT_ARRAY | VT_I4; v.parray = SafeArrayCreateVector(VT_I4, 0, 2); },
     ""},
};

// The expected buffer: the text, then zeros up to the end.
std::string ZeroFilled(const char *text) {
  std::string expected(TEXT_BUFFER_SIZE, '\0');
  expected.replace(0, strlen(text), text);
  return expected;
}

TEST_F(ValueTextTest, WritesTheTextOfEachTypeIntoAWhollyZeroFilledBuffer) {
  for (const ValueCase &c : VALUE_CASES) {
    SCOPED_TRACE(c.what);
    VARIANT value;
    VariantInit(&value);
    c.make(value);
    // What a previous, longer text left behind, to the last byte.
    char buffer[TEXT_BUFFER_SIZE];
    memset(buffer, 'x', sizeof buffer);

    ValueText(value, buffer);

    EXPECT_STREQ(c.expected, buffer);
    EXPECT_EQ(ZeroFilled(c.expected), std::string(buffer, sizeof buffer)) << "the buffer beyond the text";
    EXPECT_EQ(S_OK, VariantClear(&value));
  }
}

// ---- quality text --------------------------------------------------------

struct QualityCase {
  WORD quality;
  const char *expected;
};

const QualityCase QUALITY_CASES[] = {
    {0x0000, "bad"},
    {0x0008, "not_connected"},
    {0x0018, "comm_failure"},
    {0x00C0, "good"},
    // The whole word must match: limit, substatus and any bit beyond count.
    {0x00C1, "no good"},  // good, low limit
    {0x00C3, "no good"},  // good, constant
    {0x00D8, "no good"},  // good, local override
    {0x0040, "no good"},  // uncertain
    {0x0004, "no good"},  // configuration error
    {0x001C, "no good"},  // out of service
    {0x0009, "no good"},  // not connected, low limit
    {0x0001, "no good"},  // bad, low limit
    {0x01C0, "no good"},  // good with a bit beyond the low byte
    {0x0108, "no good"},  // not connected with a bit beyond the low byte
    {0x0100, "no good"},  // bad with a bit beyond the low byte
    {0xFFFF, "no good"},
};

TEST_F(QualityTextTest, NamesTheFourKnownWordsExactlyAndEveryOtherNoGood) {
  for (const QualityCase &c : QUALITY_CASES) {
    SCOPED_TRACE(testing::Message() << "quality 0x" << std::hex << c.quality);
    char buffer[TEXT_BUFFER_SIZE];
    memset(buffer, 'x', sizeof buffer);

    QualityText(c.quality, buffer);

    EXPECT_STREQ(c.expected, buffer);
  }
}

// ---- time text -----------------------------------------------------------

FILETIME FileTimeOf(uint64_t intervals) {
  FILETIME time;
  time.dwLowDateTime = static_cast<DWORD>(intervals);
  time.dwHighDateTime = static_cast<DWORD>(intervals >> 32);
  return time;
}

uint64_t IntervalsOf(const FILETIME &time) {
  return (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

// A UTC calendar time as a time stamp, plus a fraction of a second in
// 100-nanosecond intervals.
FILETIME Utc(WORD year, WORD month, WORD day, WORD hour, WORD minute, WORD second, uint64_t fraction = 0) {
  SYSTEMTIME fields = {};
  fields.wYear = year;
  fields.wMonth = month;
  fields.wDay = day;
  fields.wHour = hour;
  fields.wMinute = minute;
  fields.wSecond = second;
  FILETIME time = {};
  EXPECT_TRUE(SystemTimeToFileTime(&fields, &time)) << year << "-" << month << "-" << day;
  return FileTimeOf(IntervalsOf(time) + fraction);
}

struct TimeCase {
  const char *what;
  FILETIME timeStamp;
  const wchar_t *expected;
};

std::vector<TimeCase> TimeCases() {
  return {
      {"13:05:09", Utc(2024, 3, 5, 13, 5, 9), L"13:05:09"},
      {"midnight", Utc(2024, 3, 5, 0, 0, 0), L"00:00:00"},
      {"last second of the day", Utc(2024, 12, 31, 23, 59, 59), L"23:59:59"},
      {"a hair before midnight", Utc(2024, 12, 31, 23, 59, 59, 9999999), L"23:59:59"},
      {"half a second past", Utc(2024, 3, 5, 13, 5, 9, 5000000), L"13:05:09"},
      {"noon", Utc(2024, 3, 5, 12, 0, 0), L"12:00:00"},
      {"one in the morning", Utc(2024, 3, 5, 1, 2, 3), L"01:02:03"},
      {"the first interval of 1601", FileTimeOf(0), L"00:00:00"},
      {"1601-01-01 13:05:09", Utc(1601, 1, 1, 13, 5, 9), L"13:05:09"},
      {"9999-12-31 23:59:59", Utc(9999, 12, 31, 23, 59, 59), L"23:59:59"},
      {"the last convertible time stamp", FileTimeOf(0x7FFFFFFFFFFFFFFFull), L"02:48:05"},
      {"top bit alone", FileTimeOf(0x8000000000000000ull), L"bad timestamp"},
      {"top bit and one", FileTimeOf(0x8000000000000001ull), L"bad timestamp"},
      {"every bit", FileTimeOf(0xFFFFFFFFFFFFFFFFull), L"bad timestamp"},
  };
}

TEST_F(TimeTextTest, WritesTheUtcTimeOfDayOrBadTimestamp) {
  for (const TimeCase &c : TimeCases()) {
    SCOPED_TRACE(c.what);
    wchar_t buffer[TEXT_BUFFER_SIZE];
    wmemset(buffer, L'x', TEXT_BUFFER_SIZE);

    TimeText(c.timeStamp, buffer);

    EXPECT_STREQ(c.expected, buffer);
  }
}

// A formatter that fails the way GetTimeFormatW does, after scribbling on
// the buffer.
int g_formatterCalls;
int WINAPI FailingFormatter(LCID, DWORD, const SYSTEMTIME *, LPCWSTR, LPWSTR buffer, int capacity) {
  ++g_formatterCalls;
  if (capacity > 0) wmemset(buffer, L'#', static_cast<size_t>(capacity));
  SetLastError(ERROR_INSUFFICIENT_BUFFER);
  return 0;
}

TEST_F(TimeTextTest, BuildsTheSameTextFromTheFieldsWhenTheFormatterFails) {
  for (const TimeCase &c : TimeCases()) {
    SCOPED_TRACE(c.what);
    const bool convertible = IntervalsOf(c.timeStamp) < 0x8000000000000000ull;
    wchar_t buffer[TEXT_BUFFER_SIZE];
    wmemset(buffer, L'x', TEXT_BUFFER_SIZE);
    g_formatterCalls = 0;

    TimeTextWith(FailingFormatter, c.timeStamp, buffer);

    EXPECT_STREQ(c.expected, buffer);
    EXPECT_EQ(convertible ? 1 : 0, g_formatterCalls) << "calls of the formatter";
  }
}

// What the formatter was handed, for the one test that looks at it.
struct FormatterCall {
  LCID locale;
  DWORD flags;
  SYSTEMTIME fields;
  std::wstring picture;
  int capacity;
};
FormatterCall g_lastCall;

int WINAPI RecordingFormatter(LCID locale, DWORD flags, const SYSTEMTIME *fields, LPCWSTR picture, LPWSTR buffer,
                              int capacity) {
  g_lastCall = {locale, flags, *fields, picture != nullptr ? picture : L"(null)", capacity};
  return GetTimeFormatW(locale, flags, fields, picture, buffer, capacity);
}

TEST_F(TimeTextTest, HandsTheFormatterTheUtcFieldsAndNoMoreRoomThanTheBuffer) {
  wchar_t buffer[TEXT_BUFFER_SIZE];

  TimeTextWith(RecordingFormatter, Utc(2024, 3, 5, 13, 5, 9, 1234567), buffer);

  EXPECT_STREQ(L"13:05:09", buffer);
  EXPECT_EQ(13, g_lastCall.fields.wHour);
  EXPECT_EQ(5, g_lastCall.fields.wMinute);
  EXPECT_EQ(9, g_lastCall.fields.wSecond);
  EXPECT_EQ(123, g_lastCall.fields.wMilliseconds);
  EXPECT_EQ(static_cast<LCID>(LOCALE_USER_DEFAULT), g_lastCall.locale);
  EXPECT_EQ(static_cast<DWORD>(TIME_FORCE24HOURFORMAT), g_lastCall.flags);
  EXPECT_EQ(L"hh':'mm':'ss", g_lastCall.picture);
  EXPECT_LE(g_lastCall.capacity, static_cast<int>(TEXT_BUFFER_SIZE));
}

// Sets the user's time format and the thread locale for one test. TearDown
// puts back what was there: it runs however the test body ended, a body
// that crashed included where the test framework catches the crash, which
// skips the body's destructors.
class TwelveHourLocaleTest : public ComTest {
 protected:
  bool SetTimeFormat(const wchar_t *timeFormat) {
    threadLocale_ = GetThreadLocale();
    formatSet_ = GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_STIMEFORMAT, previousFormat_, 80) > 0 &&
                 SetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_STIMEFORMAT, timeFormat);
    threadSet_ = SetThreadLocale(MAKELCID(MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), SORT_DEFAULT));
    return formatSet_ && threadSet_;
  }
  void TearDown() override {
    if (formatSet_) {
      EXPECT_TRUE(SetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_STIMEFORMAT, previousFormat_))
          << "the user's time format not restored, error " << GetLastError();
    }
    if (threadSet_) SetThreadLocale(threadLocale_);
    ComTest::TearDown();
  }

 private:
  LCID threadLocale_ = 0;
  wchar_t previousFormat_[80] = {};
  bool formatSet_ = false;
  bool threadSet_ = false;
};

std::wstring UserLocaleText(LCTYPE type) {
  wchar_t text[80] = {};
  GetLocaleInfoW(LOCALE_USER_DEFAULT, type, text, 80);
  return text;
}

TEST_F(TwelveHourLocaleTest, KeepsTheTwentyFourHourClockAndColonsUnderATwelveHourLocale) {
  ASSERT_TRUE(SetTimeFormat(L"hh.mm.ss tt")) << "error " << GetLastError();
  // The locale the text is built under really is on the 12-hour clock and
  // separates with dots.
  ASSERT_EQ(L"0", UserLocaleText(LOCALE_ITIME));
  ASSERT_EQ(L".", UserLocaleText(LOCALE_STIME));
  wchar_t own[TEXT_BUFFER_SIZE];
  SYSTEMTIME fields = {2024, 3, 2, 5, 13, 5, 9, 0};
  ASSERT_GT(GetTimeFormatW(LOCALE_USER_DEFAULT, 0, &fields, nullptr, own, TEXT_BUFFER_SIZE), 0);
  ASSERT_STREQ(L"01.05.09 PM", own);
  wchar_t buffer[TEXT_BUFFER_SIZE];

  TimeText(Utc(2024, 3, 5, 13, 5, 9), buffer);
  EXPECT_STREQ(L"13:05:09", buffer);
  TimeText(Utc(2024, 3, 5, 0, 5, 9), buffer);
  EXPECT_STREQ(L"00:05:09", buffer);
}

TEST_F(TimeTextTest, ShowsUtcAndNotTheLocalTimeOfDay) {
  // The zone comes from outside: under Wine a program cannot change its own
  // (SetTimeZoneInformation lacks the privilege, SetDynamicTimeZoneInformation
  // is not implemented), so this test runs with TZ=America/New_York (see
  // tests/CMakeLists.txt). On a clock that shows UTC it would prove nothing.
  const FILETIME timeStamp = Utc(2024, 3, 5, 13, 5, 9);
  SYSTEMTIME utc, local;
  ASSERT_TRUE(FileTimeToSystemTime(&timeStamp, &utc));
  ASSERT_TRUE(SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local));
  REQUIRE_PRECONDITION(local.wHour != 13, "the local time is UTC here; the test needs another time zone");
  wchar_t buffer[TEXT_BUFFER_SIZE];

  TimeText(timeStamp, buffer);

  EXPECT_STREQ(L"13:05:09", buffer);
}

}  // namespace
