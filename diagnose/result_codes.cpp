// Names and texts of result codes; see result_codes.h.
#include "result_codes.h"

#include "report.h"
#include "server_call.h"

namespace {

struct NamedCode {
  HRESULT code;
  const wchar_t *name;
};

constexpr HRESULT Code(unsigned long value) { return static_cast<HRESULT>(value); }

const NamedCode kNames[] = {
    {OPC_E_INVALIDHANDLE, L"OPC_E_INVALIDHANDLE"},
    {OPC_E_BADTYPE, L"OPC_E_BADTYPE"},
    {OPC_E_PUBLIC, L"OPC_E_PUBLIC"},
    {OPC_E_BADRIGHTS, L"OPC_E_BADRIGHTS"},
    {OPC_E_UNKNOWNITEMID, L"OPC_E_UNKNOWNITEMID"},
    {OPC_E_INVALIDITEMID, L"OPC_E_INVALIDITEMID"},
    {OPC_E_INVALIDFILTER, L"OPC_E_INVALIDFILTER"},
    {OPC_E_UNKNOWNPATH, L"OPC_E_UNKNOWNPATH"},
    {OPC_E_RANGE, L"OPC_E_RANGE"},
    {OPC_E_DUPLICATENAME, L"OPC_E_DUPLICATENAME"},
    {OPC_S_UNSUPPORTEDRATE, L"OPC_S_UNSUPPORTEDRATE"},
    {OPC_S_CLAMP, L"OPC_S_CLAMP"},
    {OPC_S_INUSE, L"OPC_S_INUSE"},
    {S_FALSE, L"S_FALSE"},
    {E_FAIL, L"E_FAIL"},
    {E_NOTIMPL, L"E_NOTIMPL"},
    {E_NOINTERFACE, L"E_NOINTERFACE"},
    {E_POINTER, L"E_POINTER"},
    {E_INVALIDARG, L"E_INVALIDARG"},
    {E_OUTOFMEMORY, L"E_OUTOFMEMORY"},
    {E_ACCESSDENIED, L"E_ACCESSDENIED"},
    {E_UNEXPECTED, L"E_UNEXPECTED"},
    {REGDB_E_CLASSNOTREG, L"REGDB_E_CLASSNOTREG"},
    {REGDB_E_IIDNOTREG, L"REGDB_E_IIDNOTREG"},
    {CO_E_CLASSSTRING, L"CO_E_CLASSSTRING"},
    {CO_E_SERVER_EXEC_FAILURE, L"CO_E_SERVER_EXEC_FAILURE"},
    {CO_E_APPNOTFOUND, L"CO_E_APPNOTFOUND"},
    {CO_E_DLLNOTFOUND, L"CO_E_DLLNOTFOUND"},
    {CO_E_ERRORINDLL, L"CO_E_ERRORINDLL"},
    {CLASS_E_CLASSNOTAVAILABLE, L"CLASS_E_CLASSNOTAVAILABLE"},
    {CO_E_NOTINITIALIZED, L"CO_E_NOTINITIALIZED"},
    {RPC_E_DISCONNECTED, L"RPC_E_DISCONNECTED"},
    {RPC_E_SERVER_DIED, L"RPC_E_SERVER_DIED"},
    {RPC_E_SERVER_DIED_DNE, L"RPC_E_SERVER_DIED_DNE"},
    {RPC_E_CALL_REJECTED, L"RPC_E_CALL_REJECTED"},
    {Code(0x800706BA), L"RPC_S_SERVER_UNAVAILABLE"},
    {Code(0x800706BE), L"RPC_S_CALL_FAILED"},
    {Code(0x800706BF), L"RPC_S_CALL_FAILED_DNE"},
    {Code(0x80070002), L"ERROR_FILE_NOT_FOUND"},
    {Code(0x8007007E), L"ERROR_MOD_NOT_FOUND"},
    {Code(0x800700C1), L"ERROR_BAD_EXE_FORMAT"},
    {DISP_E_TYPEMISMATCH, L"DISP_E_TYPEMISMATCH"},
    {DISP_E_OVERFLOW, L"DISP_E_OVERFLOW"},
};

const ServerCall kErrorStringCall = {"error text", L"IOPCServer::GetErrorString", false};

// The server's own text for `code`, or the empty text.
std::wstring ServerErrorText(IOPCServer *server, HRESULT code) {
  LPWSTR text = nullptr;
  CallStarted(kErrorStringCall);
  const HRESULT hr = server->GetErrorString(code, LOCALE_SYSTEM_DEFAULT, &text);
  CallEnded();
  std::wstring shown;
  if (SUCCEEDED(hr) && text != nullptr) {
    shown = Shown(text);
    // One line, as the system's message is made.
    for (wchar_t &c : shown) {
      if (c == L'\r' || c == L'\n') c = L' ';
    }
  }
  CoTaskMemFree(text);
  return shown;
}

}  // namespace

const wchar_t *CodeName(HRESULT code) {
  for (const NamedCode &named : kNames) {
    if (named.code == code) return named.name;
  }
  return L"";
}

bool ServerGone(HRESULT code) {
  return code == RPC_E_DISCONNECTED || code == RPC_E_SERVER_DIED || code == RPC_E_SERVER_DIED_DNE ||
         code == Code(0x800706BA) || code == Code(0x800706BE) || code == Code(0x800706BF);
}

std::wstring CodeText(IOPCServer *server, HRESULT code) {
  std::wstring parts = CodeName(code);
  const std::wstring serverText = server != nullptr && !ServerGone(code) ? ServerErrorText(server, code) : L"";
  const std::wstring systemText = SystemMessage(code);
  if (!serverText.empty()) parts += (parts.empty() ? L"" : L": ") + serverText;
  if (!systemText.empty() && systemText != serverText) {
    parts += (parts.empty() ? L"system: " : L"; system: ") + systemText;
  }
  return HexCode(code) + (parts.empty() ? L"" : L" (" + parts + L")");
}
