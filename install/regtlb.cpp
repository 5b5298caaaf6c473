// Registers or unregisters a type library, which regsvr32 does not do.
//
//   regtlb [/u] [/s] path\to\Library.tlb
//
// Exit code 0 on success, 1 on a usage error, 2 when the library cannot be
// loaded, 3 when (un)registration fails.
#include <windows.h>
#include <oleauto.h>

#include <cstdio>
#include <cwchar>

namespace {

void Say(bool silent, const wchar_t* format, const wchar_t* path, HRESULT hr) {
  if (!silent) fwprintf(stderr, format, path, static_cast<unsigned long>(hr));
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  bool unregister = false;
  bool silent = false;
  const wchar_t* path = nullptr;
  for (int i = 1; i < argc; ++i) {
    if (_wcsicmp(argv[i], L"/u") == 0 || _wcsicmp(argv[i], L"-u") == 0)
      unregister = true;
    else if (_wcsicmp(argv[i], L"/s") == 0 || _wcsicmp(argv[i], L"-s") == 0)
      silent = true;
    else if (!path)
      path = argv[i];
    else
      path = nullptr, i = argc;  // more than one path
  }
  if (!path) {
    fwprintf(stderr, L"usage: regtlb [/u] [/s] library.tlb\n");
    return 1;
  }

  // Register with the full path, so the registry does not depend on the
  // directory the tool was started from.
  wchar_t full[MAX_PATH];
  DWORD n = GetFullPathNameW(path, MAX_PATH, full, nullptr);
  if (n == 0 || n >= MAX_PATH) {
    Say(silent, L"regtlb: bad path %ls (0x%08lx)\n", path, HRESULT_FROM_WIN32(GetLastError()));
    return 1;
  }

  ITypeLib* library = nullptr;
  HRESULT hr = LoadTypeLibEx(full, unregister ? REGKIND_NONE : REGKIND_REGISTER, &library);
  if (FAILED(hr)) {
    Say(silent, L"regtlb: cannot load %ls (0x%08lx)\n", full, hr);
    return 2;
  }
  if (unregister) {
    TLIBATTR* attr = nullptr;
    hr = library->GetLibAttr(&attr);
    if (SUCCEEDED(hr)) {
      hr = UnRegisterTypeLib(attr->guid, attr->wMajorVerNum, attr->wMinorVerNum, attr->lcid,
                             attr->syskind);
      library->ReleaseTLibAttr(attr);
    }
  }
  library->Release();
  if (FAILED(hr)) {
    Say(silent, L"regtlb: cannot unregister %ls (0x%08lx)\n", full, hr);
    return 3;
  }
  if (!silent)
    fwprintf(stdout, unregister ? L"Unregistered %ls\n" : L"Registered %ls\n", full);
  return 0;
}
