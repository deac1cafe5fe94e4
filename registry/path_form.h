// What a path read from another program's registry key is, judged by its
// form alone, before any file call: a network path would send the user's
// credentials to its host, a pipe or a device can make a read wait for ever.
// No platform calls.
#pragma once

#include <string>

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
