// Connection to the server: ProgID to class identifier, then one activation
// asking for IOPCServer only, wherever COM's registration places the server.
#include "connection.h"

IOPCServer *ServerFromActivation(HRESULT activation, const MULTI_QI &entry) {
  if (FAILED(activation) || FAILED(entry.hr)) return nullptr;
  return static_cast<IOPCServer *>(entry.pItf);
}

IOPCServer *ConnectServer() { return ConnectServer(SERVER_PROGID, CLSCTX_ALL, nullptr); }

IOPCServer *ConnectServer(const wchar_t *name, DWORD context, ActivationResult *seen) {
  ActivationResult result = {S_OK, S_OK, S_OK};
  CLSID clsid;
  result.lookup = CLSIDFromString(name, &clsid);
  IOPCServer *server = nullptr;
  if (SUCCEEDED(result.lookup)) {
    MULTI_QI entry = {&IID_IOPCServer, nullptr, S_OK};
    result.activation = CoCreateInstanceEx(clsid, nullptr, context, nullptr, 1, &entry);
    result.entry = entry.hr;
    server = ServerFromActivation(result.activation, entry);
  }
  if (seen != nullptr) *seen = result;
  return server;
}
