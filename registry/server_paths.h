// What a server key of another program names: the form of a path, judged
// before any file call (a network path would send the user's credentials
// to its host, a pipe or a device can make a read wait for ever), the
// program's path out of a command line, and the facts of a PE header. No
// platform calls: the callers do the file system's part.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

enum class PathForm {
  kEmpty,
  kBareName,    // no folder: looked for along the search path
  kLocal,       // a drive and a folder
  kRelative,    // a folder without a drive, or a drive without a folder
  kNetwork,     // \\host\share\...
  kPipe,        // \\.\pipe\...
  kDevicePath,  // any other \\.\ or \\?\ path
  kDevice,      // a device name (CON, NUL, COM1, ...) or a stream ("file:name")
};
PathForm FormOfPath(const std::wstring &path);
// "a named pipe" and the like, for the forms a path is never opened in.
const wchar_t *PathFormText(PathForm form);

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
