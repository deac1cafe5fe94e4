// DllRegisterServer / DllUnregisterServer of the proxy/stub. A machine with
// an OPC runtime already has proxies for these interfaces that other clients
// rely on, and an interface key may carry more than a proxy (a type library,
// another tool's values). Ours is one fixed shape, what we write: the
// interface's name, and NumMethods and ProxyStubClsid32 holding the method
// count and our class, nothing else. Any other key is another's and is never
// changed. Registering succeeds only when afterwards every interface has a
// proxy COM can load, and changes nothing otherwise; unregistering removes
// the keys of our shape, and our class once no interface key names it.
#include <windows.h>
#include <olectl.h>

#include <string>
#include <vector>

#include "class_keys.h"
#include "opcproxy_clsid.h"

extern "C" const CLSID CLSID_BrenvickOpcProxy = {
    0xD0CD6F78, 0x410B, 0x4371, {0xB6, 0x19, 0x43, 0xEF, 0x6A, 0x33, 0xB1, 0x57}};

namespace {

HMODULE g_module = nullptr;

std::wstring OurClass() { return class_keys::GuidText(CLSID_BrenvickOpcProxy); }
std::wstring ClassKey() { return L"CLSID\\" + OurClass(); }
std::wstring InterfaceKey(const ProxiedInterface &entry) {
  return L"Interface\\" + class_keys::GuidText(*entry.iid);
}

bool IsOurs(const ProxiedInterface &entry) {
  const std::wstring key = InterfaceKey(entry);
  return class_keys::HoldsOnly(key, entry.name, 2) &&
         class_keys::HoldsOnly(key + L"\\NumMethods", std::to_wstring(entry.methods), 0) &&
         class_keys::HoldsOnly(key + L"\\ProxyStubClsid32", OurClass(), 0);
}

bool NamesOurClass(const ProxiedInterface &entry) {
  return class_keys::OwnerOf(InterfaceKey(entry) + L"\\ProxyStubClsid32", nullptr, OurClass()) ==
         class_keys::KeyOwner::kOurs;
}

// Whether the file the class's InprocServer32 names is there, looked for as
// the loader would: a bare file name along the search path. A path on
// another host or of a device counts as not there.
bool ServerFileFound(const std::wstring &clsid) {
  std::wstring path;
  bool found = false;
  if (class_keys::ReadPath(L"CLSID\\" + clsid + L"\\InprocServer32", &path)) {
    (void)class_keys::LocateFile(DllPath(path), L".dll", &path, &found);
  }
  return found;
}

// Another's key serves the interface when it names a class COM can load:
// ours, which this registration writes, or one whose server file is there.
bool ServedByAnother(const ProxiedInterface &entry) {
  if (NamesOurClass(entry)) return true;
  std::wstring clsid;
  GUID guid;
  return class_keys::ReadString(InterfaceKey(entry) + L"\\ProxyStubClsid32", nullptr, &clsid) &&
         class_keys::ParseGuid(clsid, &guid) && ServerFileFound(class_keys::GuidText(guid));
}

HRESULT Unregister() {
  bool removed = true;
  for (const ProxiedInterface &entry : kProxiedInterfaces) {
    if (IsOurs(entry)) removed = class_keys::DeleteTree(InterfaceKey(entry)) && removed;
  }
  // A key someone extended still names the class and still needs it: all
  // that was ours alone is gone, and that is success.
  for (const ProxiedInterface &entry : kProxiedInterfaces) {
    if (NamesOurClass(entry)) return removed ? S_OK : SELFREG_E_CLASS;
  }
  // The class is ours whatever path it names; what others put beside our
  // values stays.
  removed = class_keys::RemoveValues(ClassKey() + L"\\InprocServer32", {L"", L"ThreadingModel"}) && removed;
  removed = class_keys::RemoveValues(ClassKey(), {L""}) && removed;
  return removed ? S_OK : SELFREG_E_CLASS;
}

HRESULT Register() {
  std::wstring path;
  if (!class_keys::ModulePath(g_module, &path)) return SELFREG_E_CLASS;
  // Checked before anything is written, so that a refusal changes nothing.
  std::vector<const ProxiedInterface *> ours;
  for (const ProxiedInterface &entry : kProxiedInterfaces) {
    if (!class_keys::Exists(InterfaceKey(entry)) || IsOurs(entry)) {
      ours.push_back(&entry);
    } else if (!ServedByAnother(entry)) {
      return HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS);
    }
  }
  std::vector<std::wstring> created;
  const std::wstring server = ClassKey() + L"\\InprocServer32";
  bool written = class_keys::SetString(ClassKey(), nullptr, L"Brenvick OPC DA proxy/stub", &created) &&
                 class_keys::SetString(server, nullptr, path, &created) &&
                 class_keys::SetString(server, L"ThreadingModel", L"Both", &created);
  for (const ProxiedInterface *entry : ours) {
    const std::wstring key = InterfaceKey(*entry);
    written = written && class_keys::SetString(key, nullptr, entry->name, &created) &&
              class_keys::SetString(key + L"\\NumMethods", nullptr, std::to_wstring(entry->methods), &created) &&
              class_keys::SetString(key + L"\\ProxyStubClsid32", nullptr, OurClass(), &created);
  }
  if (written) return S_OK;
  // A write failed part way: the keys this registration created go, newest
  // first. Values it wrote into keys that were there (only ever those of an
  // earlier registration of ours) are not put back.
  for (auto key = created.rbegin(); key != created.rend(); ++key) class_keys::DeleteTree(*key);
  return SELFREG_E_CLASS;
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    g_module = instance;
    DisableThreadLibraryCalls(instance);
  }
  return TRUE;
}

STDAPI DllRegisterServer() { return class_keys::Guarded(Register); }

STDAPI DllUnregisterServer() { return class_keys::Guarded(Unregister); }
