// Value, time and quality texts of the display records. Pure conversions:
// no server calls, no locale of the program's own.
#include "record_text.h"

#include <cstdio>
#include <cstring>
#include <cwchar>

namespace {

void CopyText(const char *text, char *buffer) {
  size_t length = strlen(text);
  if (length >= TEXT_BUFFER_SIZE) length = TEXT_BUFFER_SIZE - 1;
  memcpy(buffer, text, length);
  buffer[length] = '\0';
}

void CopyWideText(const wchar_t *text, wchar_t *buffer) {
  size_t length = wcslen(text);
  if (length >= TEXT_BUFFER_SIZE) length = TEXT_BUFFER_SIZE - 1;
  wmemcpy(buffer, text, length);
  buffer[length] = L'\0';
}

}  // namespace

void ValueText(const VARIANT &value, char *buffer) {
  memset(buffer, 0, TEXT_BUFFER_SIZE);
  switch (value.vt) {
    case VT_I2:
      snprintf(buffer, TEXT_BUFFER_SIZE, "%d", static_cast<int>(value.iVal));
      break;
    case VT_I4:
      snprintf(buffer, TEXT_BUFFER_SIZE, "%ld", static_cast<long>(value.lVal));
      break;
    case VT_EMPTY:
      buffer[0] = '?';
      break;
    default:
      break;
  }
}

void TimeTextWith(TimeFormatter format, const FILETIME &timeStamp, wchar_t *buffer) {
  SYSTEMTIME fields;
  if (!FileTimeToSystemTime(&timeStamp, &fields)) {
    CopyWideText(L"bad timestamp", buffer);
    return;
  }
  // The picture's quoted ':' keeps the separator whatever the locale says,
  // and the flag keeps the 24-hour clock under a 12-hour locale.
  if (format(LOCALE_USER_DEFAULT, TIME_FORCE24HOURFORMAT, &fields, L"hh':'mm':'ss", buffer,
             static_cast<int>(TEXT_BUFFER_SIZE)) > 0) {
    return;
  }
  // The conversion already gave the fields; the text is the same without
  // the locale's help.
  swprintf(buffer, TEXT_BUFFER_SIZE, L"%02u:%02u:%02u", static_cast<unsigned>(fields.wHour),
           static_cast<unsigned>(fields.wMinute), static_cast<unsigned>(fields.wSecond));
}

void TimeText(const FILETIME &timeStamp, wchar_t *buffer) { TimeTextWith(GetTimeFormatW, timeStamp, buffer); }

void QualityText(WORD quality, char *buffer) {
  const char *text = "no good";
  switch (quality) {
    case OPC_QUALITY_BAD:
      text = "bad";
      break;
    case OPC_QUALITY_NOT_CONNECTED:
      text = "not_connected";
      break;
    case OPC_QUALITY_COMM_FAILURE:
      text = "comm_failure";
      break;
    case OPC_QUALITY_GOOD:
      text = "good";
      break;
    default:
      break;
  }
  CopyText(text, buffer);
}
