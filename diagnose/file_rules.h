// The program's path out of a server key's value, the facts of a PE
// header, and a path shown so that it can be copied. No platform calls:
// the callers do the file system's part.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "path_form.h"

// The path of an InprocServer32 value: without quotes and trailing blanks.
std::wstring DllPath(const std::wstring &value);

// The paths a LocalServer32 command line may name its program by: the
// quoted part, or, unquoted, the text before each space (as CreateProcess
// tries them) and the whole, at most MOST_PROGRAM_PATHS of them; `cut` when
// there were more.
constexpr size_t MOST_PROGRAM_PATHS = 8;
struct ProgramPaths {
  std::vector<std::wstring> paths;
  bool cut;
};
ProgramPaths ProgramPathsOf(const std::wstring &commandLine);

// The machine a PE header names (0: no program) and whether it is a DLL.
struct PeHeader {
  uint16_t machine;
  int dll;
};
// Reads up to `size` bytes at `offset` of `file`; the count read.
typedef size_t (*ReadAt)(void *file, uint64_t offset, unsigned char *into, size_t size);
PeHeader ReadPeHeader(ReadAt read, void *file);

// The path as it stands, so that it can be typed back; a character the
// names' rule would escape, and "<" itself, as <U+XXXX>, which no path holds.
std::wstring ShownPath(const std::wstring &path);
