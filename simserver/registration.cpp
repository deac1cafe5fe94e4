// DllRegisterServer / DllUnregisterServer: the ProgID, the class and its
// membership of the "OPC Data Access Servers Version 2.0" category. The
// ProgID may belong to another server, the category belongs to all of them,
// and simserver.exe shares the class and the ProgID (see class_keys.h).
#include <windows.h>
#include <comcat.h>
#include <objbase.h>
#include <olectl.h>

#include <cwchar>
#include <string>

#include "class_keys.h"
#include "module.h"
#include "opcda.h"
#include "simserver_clsid.h"

namespace {

using class_keys::Exists;
using class_keys::GuidText;
using class_keys::SetString;

constexpr wchar_t kCategoryDescription[] = L"OPC Data Access Servers Version 2.0";
constexpr LCID kCategoryLocale = 0x0409;

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
  const bool described = Exists(description_key);
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
  if ((!described && !SetString(description_key, locale, kCategoryDescription)) ||
      !SetString(L"CLSID\\" + GuidText(CLSID_BrenvickSimServer) + L"\\Implemented Categories\\" + category, nullptr,
                 L"")) {
    return SELFREG_E_CLASS;
  }
  return S_OK;
}

HRESULT Unregister() {
  return class_keys::RemoveServer(CLSID_BrenvickSimServer, kBrenvickSimProgId, L"InprocServer32") ? S_OK
                                                                                                   : SELFREG_E_CLASS;
}

HRESULT Register() {
  std::wstring path;
  if (!class_keys::ModulePath(simserver::ModuleHandle(), &path)) return SELFREG_E_CLASS;
  const std::wstring server_key = L"CLSID\\" + GuidText(CLSID_BrenvickSimServer) + L"\\InprocServer32";
  // Checked before anything is written, so that a refusal changes nothing.
  if (class_keys::ClaimedByOther(CLSID_BrenvickSimServer, kBrenvickSimProgId)) {
    return HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS);
  }
  const bool written = class_keys::WriteClass(CLSID_BrenvickSimServer, kBrenvickSimProgId, kBrenvickSimDescription) &&
                       SetString(server_key, nullptr, path) &&
                       SetString(server_key, L"ThreadingModel", L"Apartment");
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

STDAPI DllRegisterServer() { return class_keys::Guarded(Register); }

STDAPI DllUnregisterServer() { return class_keys::Guarded(Unregister); }
