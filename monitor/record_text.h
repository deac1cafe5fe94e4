// The three texts of a display record, built from one item sample into
// buffers the caller owns and reuses.
#pragma once

#include "opcda.h"

#include <cstddef>

constexpr size_t TEXT_BUFFER_SIZE = 256;

// Value text into a buffer of TEXT_BUFFER_SIZE bytes: 16- and 32-bit
// integers in decimal, "?" for an empty value, the empty text otherwise.
void ValueText(const VARIANT &value, char *buffer);

// Time of day of a UTC time stamp, "hh:mm:ss" on the 24-hour clock, into a
// buffer of TEXT_BUFFER_SIZE wide characters; "bad timestamp" when the time
// stamp cannot be converted.
void TimeText(const FILETIME &timeStamp, wchar_t *buffer);

// Quality text into a buffer of TEXT_BUFFER_SIZE bytes: an exact match of
// the whole quality word, "no good" for every word not named.
void QualityText(WORD quality, char *buffer);

// The formatting call TimeText uses, with GetTimeFormatW's signature; tests
// put a failing one in its place.
typedef int(WINAPI *TimeFormatter)(LCID locale, DWORD flags, const SYSTEMTIME *time, LPCWSTR picture,
                                   LPWSTR buffer, int capacity);
void TimeTextWith(TimeFormatter format, const FILETIME &timeStamp, wchar_t *buffer);
