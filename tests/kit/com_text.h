// How the tests show COM values in failure messages: HRESULTs as 0x%08lx,
// interface identifiers by name (or braced), and EXPECT_HR for comparing
// two HRESULTs with a "got ..., expected ..." message.
#pragma once

#include <windows.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include <ostream>
#include <string>

// "0x80004005"
std::string HrText(HRESULT hr);

// "IID_IOPCServer" for the interfaces the tests meet, the braced form for
// any other.
std::string GuidText(REFGUID guid);

// gtest and gmock print interface identifiers through this (found by
// argument-dependent lookup: GUID lives in the global namespace).
void PrintTo(const GUID &guid, std::ostream *os);

::testing::AssertionResult HrEquals(const char *expectedText, const char *gotText, HRESULT expected, HRESULT got);

#define EXPECT_HR(expected, got) EXPECT_PRED_FORMAT2(HrEquals, expected, got)
#define ASSERT_HR(expected, got) ASSERT_PRED_FORMAT2(HrEquals, expected, got)
