// Connection to the server: ProgID to class identifier, then one activation
// asking for IOPCServer only, wherever COM's registration places the server.
#include "connection.h"

IOPCServer *ServerFromActivation(HRESULT activation, const MULTI_QI &entry) {
  if (FAILED(activation) || FAILED(entry.hr)) return nullptr;
  return static_cast<IOPCServer *>(entry.pItf);
}

IOPCServer *ConnectServer() {
  CLSID clsid;
  if (FAILED(CLSIDFromString(SERVER_PROGID, &clsid))) return nullptr;

  MULTI_QI entry = {&IID_IOPCServer, nullptr, S_OK};
  HRESULT hr = CoCreateInstanceEx(clsid, nullptr, CLSCTX_ALL, nullptr, 1, &entry);
  return ServerFromActivation(hr, entry);
}
