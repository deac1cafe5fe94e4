// The version record of monitor.exe, read back with the platform's own
// version API from the built executable (OPCMON_MONITOR_EXE names it).
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "com_test.h"

namespace {

class VersionRecordTest : public ComTest {
 protected:
  void SetUp() override {
    ComTest::SetUp();
    wchar_t path[MAX_PATH * 2];
    const DWORD length = GetEnvironmentVariableW(L"OPCMON_MONITOR_EXE", path, MAX_PATH * 2);
    ASSERT_TRUE(length > 0 && length < MAX_PATH * 2) << "OPCMON_MONITOR_EXE is not set";
    exe_ = path;
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(exe_.c_str(), &ignored);
    ASSERT_NE(0u, size) << "no version record in " << exe_ << ", error " << GetLastError();
    record_.resize(size);
    ASSERT_TRUE(GetFileVersionInfoW(exe_.c_str(), 0, size, record_.data()));
  }

  std::wstring StringValue(const wchar_t *name) {
    // The string table of the first translation the record lists.
    struct Translation {
      WORD language;
      WORD codePage;
    } *translations = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(record_.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void **>(&translations),
                        &length) ||
        length < sizeof *translations) {
      return L"(no translation)";
    }
    wchar_t query[128];
    swprintf(query, 128, L"\\StringFileInfo\\%04x%04x\\%ls", translations[0].language, translations[0].codePage,
             name);
    wchar_t *value = nullptr;
    if (!VerQueryValueW(record_.data(), query, reinterpret_cast<void **>(&value), &length)) return L"(missing)";
    return value;
  }

  std::wstring exe_;
  std::vector<BYTE> record_;
};

TEST_F(VersionRecordTest, FileAndProductVersionAre_1_1_1_10) {
  VS_FIXEDFILEINFO *fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(record_.data(), L"\\", reinterpret_cast<void **>(&fixed), &length));
  ASSERT_GE(length, sizeof *fixed);
  EXPECT_EQ(0xFEEF04BDu, fixed->dwSignature);
  EXPECT_EQ(MAKELONG(1, 1), fixed->dwFileVersionMS) << std::hex << "got 0x" << fixed->dwFileVersionMS;
  EXPECT_EQ(MAKELONG(10, 1), fixed->dwFileVersionLS) << std::hex << "got 0x" << fixed->dwFileVersionLS;
  EXPECT_EQ(MAKELONG(1, 1), fixed->dwProductVersionMS) << std::hex << "got 0x" << fixed->dwProductVersionMS;
  EXPECT_EQ(MAKELONG(10, 1), fixed->dwProductVersionLS) << std::hex << "got 0x" << fixed->dwProductVersionLS;
  EXPECT_EQ(static_cast<DWORD>(VFT_APP), fixed->dwFileType);

  EXPECT_EQ(L"1, 1, 1, 10", StringValue(L"FileVersion"));
  EXPECT_EQ(L"1, 1, 1, 10", StringValue(L"ProductVersion"));
  EXPECT_EQ(L"monitor.exe", StringValue(L"OriginalFilename"));
}

}  // namespace
