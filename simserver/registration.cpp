// DllRegisterServer / DllUnregisterServer: the ProgID, the class and its
// membership of the "OPC Data Access Servers Version 2.0" category. The
// ProgID may belong to another server and the category belongs to all of
// them (see registry_keys.h).
#include <windows.h>
#include <comcat.h>
#include <objbase.h>
#include <olectl.h>

#include <cwchar>
#include <new>
#include <string>
#include <vector>

#include "module.h"
#include "opcda.h"
#include "registry_keys.h"
#include "simserver_clsid.h"

namespace {

using simserver::DeleteIfOurs;
using simserver::DeleteTree;
using simserver::KeyExists;
using simserver::KeyOwner;
using simserver::OwnerOf;
using simserver::SetString;

constexpr wchar_t kDescription[] = L"Brenvick OPC DA Simulation Server";
constexpr wchar_t kCategoryDescription[] = L"OPC Data Access Servers Version 2.0";
constexpr LCID kCategoryLocale = 0x0409;

std::wstring GuidText(REFGUID guid) {
  wchar_t text[40] = L"";
  StringFromGUID2(guid, text, sizeof text / sizeof text[0]);
  return text;
}

// Full path of this DLL, however long.
bool ModulePath(std::wstring *path) {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD length = GetModuleFileNameW(simserver::ModuleHandle(), buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return false;
    if (length < buffer.size()) {
      path->assign(buffer.data(), length);
      return true;
    }
    if (buffer.size() >= 32768) return false;
    buffer.resize(buffer.size() * 2);
  }
}

LONG CreateKey(const std::wstring &key) {
  HKEY handle = nullptr;
  const LONG rc = RegCreateKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                  KEY_SET_VALUE, nullptr, &handle, nullptr);
  if (rc == ERROR_SUCCESS) RegCloseKey(handle);
  return rc;
}

// COM stays initialised on this thread for as long as the object lives, if
// it was not already.
class ComScope {
 public:
  ComScope() : hr_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
  ~ComScope() {
    if (SUCCEEDED(hr_)) CoUninitialize();
  }
  ComScope(const ComScope &) = delete;
  ComScope &operator=(const ComScope &) = delete;

 private:
  HRESULT hr_;
};

ICatRegister *CategoriesManager() {
  ICatRegister *categories = nullptr;
  if (FAILED(CoCreateInstance(CLSID_StdComponentCategoriesMgr, nullptr, CLSCTX_INPROC_SERVER, IID_ICatRegister,
                              reinterpret_cast<void **>(&categories)))) {
    return nullptr;
  }
  return categories;
}

// The class as one implementing the category, and the category itself
// where no server described it yet: through the component categories
// manager where it works, otherwise written directly. The description is
// shared by every OPC server and is never replaced.
HRESULT RegisterCategory() {
  const std::wstring category = GuidText(CATID_OPCDAServer20);
  const std::wstring description_key = L"Component Categories\\" + category;
  const bool described = KeyExists(description_key);
  if (ICatRegister *categories = CategoriesManager()) {
    HRESULT hr = S_OK;
    if (!described) {
      CATEGORYINFO info = {};
      info.catid = CATID_OPCDAServer20;
      info.lcid = kCategoryLocale;
      lstrcpynW(info.szDescription, kCategoryDescription, sizeof info.szDescription / sizeof info.szDescription[0]);
      hr = categories->RegisterCategories(1, &info);
    }
    CATID catid = CATID_OPCDAServer20;
    if (SUCCEEDED(hr)) hr = categories->RegisterClassImplCategories(CLSID_BrenvickSimServer, 1, &catid);
    categories->Release();
    if (SUCCEEDED(hr)) return S_OK;
  }
  wchar_t locale[16];
  swprintf(locale, sizeof locale / sizeof locale[0], L"%x", static_cast<unsigned>(kCategoryLocale));
  if ((!described && SetString(description_key, locale, kCategoryDescription) != ERROR_SUCCESS) ||
      CreateKey(L"CLSID\\" + GuidText(CLSID_BrenvickSimServer) + L"\\Implemented Categories\\" + category) !=
          ERROR_SUCCESS) {
    return SELFREG_E_CLASS;
  }
  return S_OK;
}

// The registry view of the other architecture, or 0 where there is none:
// 32- and 64-bit class registrations are kept apart, the ProgID is one for
// both.
REGSAM OtherView() {
  if constexpr (sizeof(void *) == 8) {
    return KEY_WOW64_32KEY;
  } else {
    BOOL wow64 = FALSE;
    return IsWow64Process(GetCurrentProcess(), &wow64) && wow64 ? KEY_WOW64_64KEY : 0;
  }
}

HRESULT Unregister() {
  ComScope com;
  const std::wstring clsid = GuidText(CLSID_BrenvickSimServer);
  const std::wstring class_key = L"CLSID\\" + clsid;
  CATID catid = CATID_OPCDAServer20;
  if (ICatRegister *categories = CategoriesManager()) {
    categories->UnRegisterClassImplCategories(CLSID_BrenvickSimServer, 1, &catid);
    categories->Release();
  }
  bool removed = DeleteTree(class_key);
  // The ProgID goes with the last architecture's class, and only while it
  // still names ours: a user may have given it to another server since.
  const REGSAM other = OtherView();
  if (other == 0 || !KeyExists(class_key + L"\\InprocServer32", other)) {
    removed = DeleteIfOurs(kBrenvickSimProgId, L"CLSID", clsid) && removed;
  }
  return removed ? S_OK : SELFREG_E_CLASS;
}

HRESULT Register() {
  std::wstring path;
  if (!ModulePath(&path)) return SELFREG_E_CLASS;
  const std::wstring clsid = GuidText(CLSID_BrenvickSimServer);
  const std::wstring class_key = L"CLSID\\" + clsid;
  const std::wstring progid = kBrenvickSimProgId;
  // Checked before anything is written, so that a refusal changes nothing.
  if (OwnerOf(progid, L"CLSID", clsid) == KeyOwner::kOther) return HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS);
  const bool written = SetString(progid + L"\\CLSID", nullptr, clsid) == ERROR_SUCCESS &&
                       SetString(progid, nullptr, kDescription) == ERROR_SUCCESS &&
                       SetString(class_key, nullptr, kDescription) == ERROR_SUCCESS &&
                       SetString(class_key + L"\\ProgID", nullptr, progid) == ERROR_SUCCESS &&
                       SetString(class_key + L"\\InprocServer32", nullptr, path) == ERROR_SUCCESS &&
                       SetString(class_key + L"\\InprocServer32", L"ThreadingModel", L"Apartment") == ERROR_SUCCESS;
  HRESULT hr = written ? S_OK : SELFREG_E_CLASS;
  if (SUCCEEDED(hr)) {
    ComScope com;
    hr = RegisterCategory();
  }
  // Half a registration is worse than none.
  if (FAILED(hr)) Unregister();
  return hr;
}

}  // namespace

STDAPI DllRegisterServer() {
  try {
    return Register();
  } catch (const std::bad_alloc &) {
    return E_OUTOFMEMORY;
  }
}

STDAPI DllUnregisterServer() {
  try {
    return Unregister();
  } catch (const std::bad_alloc &) {
    return E_OUTOFMEMORY;
  }
}
