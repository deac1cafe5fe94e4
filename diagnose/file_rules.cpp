// The rules on server paths and program files; see file_rules.h.
#include "file_rules.h"

#include <cwchar>

#include "escaping.h"

std::wstring DllPath(const std::wstring &value) {
  std::wstring path = value;
  while (!path.empty() && (path.back() == L' ' || path.back() == L'\t')) path.pop_back();
  const size_t start = path.find_first_not_of(L" \t");
  path = start == std::wstring::npos ? std::wstring() : path.substr(start);
  if (path.size() >= 2 && path.front() == L'"' && path.back() == L'"') path = path.substr(1, path.size() - 2);
  return path;
}

ProgramPaths ProgramPathsOf(const std::wstring &commandLine) {
  ProgramPaths found{{}, false};
  const size_t start = commandLine.find_first_not_of(L" \t");
  if (start == std::wstring::npos) return found;
  std::wstring text = commandLine.substr(start);
  if (text[0] == L'"') {
    found.paths.push_back(text.substr(1, text.find(L'"', 1) - 1));
    return found;
  }
  text.erase(text.find_last_not_of(L" \t") + 1);
  for (size_t at = text.find(L' ');; at = text.find(L' ', at + 1)) {
    if (at != std::wstring::npos && text[at - 1] == L' ') continue;  // a run of spaces ends one word
    if (found.paths.size() == MOST_PROGRAM_PATHS) {
      found.cut = true;
      return found;
    }
    found.paths.push_back(text.substr(0, at));
    if (at == std::wstring::npos) return found;
  }
}

PeHeader ReadPeHeader(ReadAt read, void *file) {
  unsigned char dos[64], nt[24];
  if (read(file, 0, dos, sizeof dos) != sizeof dos || dos[0] != 'M' || dos[1] != 'Z') return {0, 0};
  const int32_t at = static_cast<int32_t>(static_cast<uint32_t>(dos[0x3C]) | static_cast<uint32_t>(dos[0x3D]) << 8 |
                                          static_cast<uint32_t>(dos[0x3E]) << 16 | static_cast<uint32_t>(dos[0x3F]) << 24);
  // Negative or inside the DOS header: no program the loader would take.
  if (at < static_cast<int32_t>(sizeof dos)) return {0, 0};
  if (read(file, static_cast<uint64_t>(at), nt, sizeof nt) != sizeof nt || nt[0] != 'P' || nt[1] != 'E' || nt[2] != 0 ||
      nt[3] != 0) {
    return {0, 0};
  }
  const uint16_t characteristics = static_cast<uint16_t>(nt[22] | nt[23] << 8);
  return {static_cast<uint16_t>(nt[4] | nt[5] << 8), (characteristics & 0x2000) != 0};  // IMAGE_FILE_DLL
}

std::wstring ShownPath(const std::wstring &path) {
  std::wstring shown;
  for (const wchar_t *at = path.c_str(); *at != L'\0';) {
    const NameCharacter c = CharacterAt(at);
    if (c.code == U'<' || IsEscaped(c.code)) {
      wchar_t mark[16];
      swprintf(mark, sizeof mark / sizeof mark[0], L"<U+%04X>", static_cast<unsigned>(c.code));
      shown += mark;
    } else {
      shown.append(at, c.units);
    }
    at += c.units;
  }
  return shown;
}
