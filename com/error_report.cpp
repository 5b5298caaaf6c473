#include "com/error_report.h"

#include <oleauto.h>

#include <string>

#include "base/text.h"
#include "com/module.h"
#include "com/resource.h"

namespace qb {

HRESULT ReportError(REFCLSID clsid, LPCOLESTR description, REFIID iid, HRESULT hr) {
  wchar_t loaded[1024];
  if (IS_INTRESOURCE(description)) {
    UINT id = LOWORD(reinterpret_cast<ULONG_PTR>(description));
    if (LoadStringW(ModuleInstance(), id, loaded, 1024) == 0) lstrcpyW(loaded, L"Unknown Error");
    description = loaded;
    if (hr == 0) hr = MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, id);
  }

  ICreateErrorInfo* create = nullptr;
  if (SUCCEEDED(CreateErrorInfo(&create))) {
    create->SetGUID(iid);
    LPOLESTR progId = nullptr;
    if (SUCCEEDED(ProgIDFromCLSID(clsid, &progId))) {
      create->SetSource(progId);
      CoTaskMemFree(progId);
    }
    create->SetDescription(const_cast<LPOLESTR>(description));
    IErrorInfo* info = nullptr;
    if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info)))) {
      SetErrorInfo(0, info);
      info->Release();
    }
    create->Release();
  }
  return hr == 0 ? DISP_E_EXCEPTION : hr;
}

HRESULT ReportErrorAnsi(REFCLSID clsid, const char* description, REFIID iid, HRESULT hr) {
  const std::wstring wide = description ? FromAnsi(description) : std::wstring();
  return ReportError(clsid, wide.c_str(), iid, hr);
}

HRESULT NotAvailable(REFCLSID clsid, REFIID iid) {
  return ReportError(clsid, MAKEINTRESOURCEW(IDS_NOT_AVAILABLE), iid, E_NOTIMPL);
}

void DebugTrace(const wchar_t* text) {
#ifndef NDEBUG
  if (text) OutputDebugStringW(text);
#else
  (void)text;
#endif
}

}  // namespace qb
