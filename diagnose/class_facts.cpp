// Reading a class's keys in both views; see class_facts.h.
#include "class_facts.h"

#include <objbase.h>

#include "class_keys.h"
#include "stop_request.h"

std::vector<REGSAM> RegistryViews() {
  if (TwoViews()) return {KEY_WOW64_64KEY, KEY_WOW64_32KEY};
  return {KEY_WOW64_32KEY};
}

bool ParseGuid(const std::wstring &text, GUID *guid) {
  // IIDFromString takes only the braced form, never a ProgID.
  return text.size() == 38 && text.front() == L'{' && SUCCEEDED(IIDFromString(text.c_str(), guid));
}

ClassFacts ReadClass(const std::wstring &clsid) {
  ClassFacts facts;
  const std::wstring key = L"CLSID\\" + clsid;
  for (REGSAM view : RegistryViews()) {
    if (StopRequested() || !class_keys::Exists(key, view)) continue;
    facts.views.push_back(view);
    if (facts.description.empty()) class_keys::ReadString(key, nullptr, &facts.description, view);
    if (facts.progid.empty()) class_keys::ReadString(key + L"\\ProgID", nullptr, &facts.progid, view);
    for (int local = 0; local < 2; ++local) {
      ClassServer server{};
      server.view = view;
      server.local = local;
      if (!class_keys::ReadPath(key + (local ? L"\\LocalServer32" : L"\\InprocServer32"), &server.value, view) &&
          !class_keys::Exists(key + (local ? L"\\LocalServer32" : L"\\InprocServer32"), view)) {
        continue;
      }
      server.file = LocateServerFile(server.value, local, view);
      facts.servers.push_back(server);
    }
    std::wstring appid;
    GUID guid;
    if (class_keys::ReadString(key, L"AppID", &appid, view) && ParseGuid(appid, &guid)) {
      const std::wstring app = L"AppID\\" + class_keys::GuidText(guid);
      if (facts.remote.empty()) class_keys::ReadString(app, L"RemoteServerName", &facts.remote, view);
      if (facts.service.empty()) class_keys::ReadString(app, L"LocalService", &facts.service, view);
    }
  }
  return facts;
}
