// DllRegisterServer / DllUnregisterServer: the ProgID, the class and its
// membership of the "OPC Data Access Servers Version 2.0" category.
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
#include "simserver_clsid.h"

namespace {

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

LONG SetString(const std::wstring &key, const wchar_t *name, const std::wstring &value) {
  HKEY handle = nullptr;
  LONG rc = RegCreateKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE,
                            nullptr, &handle, nullptr);
  if (rc != ERROR_SUCCESS) return rc;
  rc = RegSetValueExW(handle, name, 0, REG_SZ, reinterpret_cast<const BYTE *>(value.c_str()),
                      static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
  RegCloseKey(handle);
  return rc;
}

LONG CreateKey(const std::wstring &key) {
  HKEY handle = nullptr;
  const LONG rc = RegCreateKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                  KEY_SET_VALUE, nullptr, &handle, nullptr);
  if (rc == ERROR_SUCCESS) RegCloseKey(handle);
  return rc;
}

// Removes the key with everything below it; true when it is gone.
bool DeleteTree(const std::wstring &key) {
  const LONG rc = RegDeleteTreeW(HKEY_CLASSES_ROOT, key.c_str());
  return rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND;
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

// The category with its description, and the class as one implementing it:
// through the component categories manager where it works, otherwise
// written directly.
HRESULT RegisterCategory() {
  if (ICatRegister *categories = CategoriesManager()) {
    CATEGORYINFO info = {};
    info.catid = CATID_OPCDAServer20;
    info.lcid = kCategoryLocale;
    lstrcpynW(info.szDescription, kCategoryDescription, sizeof info.szDescription / sizeof info.szDescription[0]);
    HRESULT hr = categories->RegisterCategories(1, &info);
    CATID catid = CATID_OPCDAServer20;
    if (SUCCEEDED(hr)) hr = categories->RegisterClassImplCategories(CLSID_BrenvickSimServer, 1, &catid);
    categories->Release();
    if (SUCCEEDED(hr)) return S_OK;
  }
  const std::wstring category = GuidText(CATID_OPCDAServer20);
  wchar_t locale[16];
  swprintf(locale, sizeof locale / sizeof locale[0], L"%x", static_cast<unsigned>(kCategoryLocale));
  if (SetString(L"Component Categories\\" + category, locale, kCategoryDescription) != ERROR_SUCCESS ||
      CreateKey(L"CLSID\\" + GuidText(CLSID_BrenvickSimServer) + L"\\Implemented Categories\\" + category) !=
          ERROR_SUCCESS) {
    return SELFREG_E_CLASS;
  }
  return S_OK;
}

// Whether any class other than ours is still registered as implementing the
// category.
bool CategoryUsedByOthers(ICatRegister *categories) {
  ICatInformation *information = nullptr;
  if (FAILED(categories->QueryInterface(IID_ICatInformation, reinterpret_cast<void **>(&information)))) {
    return true;  // cannot tell: keep it
  }
  CATID catid = CATID_OPCDAServer20;
  IEnumCLSID *classes = nullptr;
  bool others = true;
  if (SUCCEEDED(information->EnumClassesOfCategories(1, &catid, 0, nullptr, &classes)) && classes != nullptr) {
    others = false;
    CLSID clsid;
    ULONG fetched = 0;
    while (!others && classes->Next(1, &clsid, &fetched) == S_OK && fetched == 1) {
      others = !IsEqualCLSID(clsid, CLSID_BrenvickSimServer);
    }
    classes->Release();
  }
  information->Release();
  return others;
}

// Whether the DLL of the other architecture is registered too: 32- and 64-bit
// class registrations are kept apart, but the ProgID and the category's
// description are one for both.
bool RegisteredInOtherView(const std::wstring &class_key) {
#ifdef _WIN64
  const REGSAM other_view = KEY_WOW64_32KEY;
#else
  BOOL wow64 = FALSE;
  if (!IsWow64Process(GetCurrentProcess(), &wow64) || !wow64) return false;
  const REGSAM other_view = KEY_WOW64_64KEY;
#endif
  HKEY handle = nullptr;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, (class_key + L"\\InprocServer32").c_str(), 0, KEY_READ | other_view,
                    &handle) != ERROR_SUCCESS) {
    return false;
  }
  RegCloseKey(handle);
  return true;
}

HRESULT Unregister() {
  ComScope com;
  const std::wstring class_key = L"CLSID\\" + GuidText(CLSID_BrenvickSimServer);
  CATID catid = CATID_OPCDAServer20;
  ICatRegister *categories = CategoriesManager();
  if (categories != nullptr) categories->UnRegisterClassImplCategories(CLSID_BrenvickSimServer, 1, &catid);
  bool removed = DeleteTree(class_key);
  if (!RegisteredInOtherView(class_key)) {
    removed = DeleteTree(kBrenvickSimProgId) && removed;
    if (categories != nullptr && !CategoryUsedByOthers(categories)) categories->UnRegisterCategories(1, &catid);
  }
  if (categories != nullptr) categories->Release();
  return removed ? S_OK : SELFREG_E_CLASS;
}

HRESULT Register() {
  std::wstring path;
  if (!ModulePath(&path)) return SELFREG_E_CLASS;
  const std::wstring clsid = GuidText(CLSID_BrenvickSimServer);
  const std::wstring class_key = L"CLSID\\" + clsid;
  const std::wstring progid = kBrenvickSimProgId;
  const bool written = SetString(progid, nullptr, kDescription) == ERROR_SUCCESS &&
                       SetString(progid + L"\\CLSID", nullptr, clsid) == ERROR_SUCCESS &&
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
