#include "com/error_report.h"

#include <oleauto.h>
#include <wrl/client.h>

#include <string>

#include "base/text.h"
#include "com/module.h"
#include "com/resource.h"

namespace qb {

using Microsoft::WRL::ComPtr;

HRESULT ReportError(REFCLSID clsid, LPCOLESTR description, REFIID iid, HRESULT hr) {
  wchar_t loaded[1024];
  if (IS_INTRESOURCE(description)) {
    UINT id = LOWORD(reinterpret_cast<ULONG_PTR>(description));
    if (LoadStringW(ModuleInstance(), id, loaded, 1024) == 0) lstrcpyW(loaded, L"Unknown Error");
    description = loaded;
    if (hr == 0) hr = MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, id);
  }

  ComPtr<ICreateErrorInfo> create;
  if (SUCCEEDED(CreateErrorInfo(create.GetAddressOf()))) {
    create->SetGUID(iid);
    LPOLESTR progId = nullptr;
    if (SUCCEEDED(ProgIDFromCLSID(clsid, &progId))) {
      create->SetSource(progId);
      CoTaskMemFree(progId);
    }
    create->SetDescription(const_cast<LPOLESTR>(description));
    ComPtr<IErrorInfo> info;
    if (SUCCEEDED(create.As(&info))) SetErrorInfo(0, info.Get());
  }
  return hr == 0 ? DISP_E_EXCEPTION : hr;
}

HRESULT ReportErrorAnsi(REFCLSID clsid, const char* description, REFIID iid, HRESULT hr) {
  const std::wstring wide = description ? FromAnsi(description) : std::wstring();
  return ReportError(clsid, wide.c_str(), iid, hr);
}

HRESULT PlainFailure(HRESULT hr) {
  SetErrorInfo(0, nullptr);
  return hr;
}

bool IsInteractiveStation(HWINSTA station) {
  USEROBJECTFLAGS flags = {};
  DWORD needed = 0;
  if (!station || !GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof(flags), &needed)) return true;
  return (flags.dwFlags & WSF_VISIBLE) != 0;
}

void ShowMessage(UINT id) {
  wchar_t text[1024];
  if (LoadStringW(ModuleInstance(), id, text, 1024) == 0) lstrcpyW(text, L"Unknown Error");
  // A modal box in a station nobody sees would block the caller's thread
  // for good.
  if (!IsInteractiveStation(GetProcessWindowStation())) {
    OutputDebugStringW(text);
    return;
  }
  MessageBoxW(nullptr, text, nullptr, MB_SETFOREGROUND);
}

void DebugTrace(const wchar_t* text) {
#ifndef NDEBUG
  if (text) OutputDebugStringW(text);
#else
  (void)text;
#endif
}

void DebuggerLine(const wchar_t* text) {
  if (text) OutputDebugStringW(text);
}

}  // namespace qb
