// A program that uses the Quillbox classes through their vtables, built
// twice from this source: 32-bit, COM loads the server into it; 64-bit, COM
// serves it from QuillboxHost.exe and every call crosses the process.
//
//   vtable_client road PHOTO OUTBASE
//     loads the photo, brightens it by 20 and raises its contrast by 10,
//     saves OUTBASE.png and OUTBASE.jpg, and prints what it read and did;
//     the two builds must print the same and write the same bytes.
//   vtable_client life PHOTO
//     (through the surrogate) the host's life: it ends after the last
//     object is released, the next activation starts a new one, and a host
//     whose serving process is killed while its objects are in use is
//     replaced at the next one.
//     Prints "N passed, N failed" and exits with the failure count.
#include <windows.h>
#include <objbase.h>
#include <tlhelp32.h>
#include <wrl/client.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "quillbox.h"

using Microsoft::WRL::ComPtr;

namespace {

template <class I>
HRESULT Make(REFCLSID clsid, ComPtr<I>& out) {
  return CoCreateInstance(clsid, nullptr, CLSCTX_ALL, __uuidof(I), reinterpret_cast<void**>(out.ReleaseAndGetAddressOf()));
}

struct Bstr {
  BSTR b;
  explicit Bstr(const wchar_t* text) : b(SysAllocString(text)) {}
  ~Bstr() { SysFreeString(b); }
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
};

// The picture brightened and given more contrast, as a script's road does.
HRESULT Road(const wchar_t* photo, ComPtr<IVuPicture>& picture, ComPtr<IVuPicture>& result) {
  ComPtr<IBright> bright;
  ComPtr<IContrast> contrast;
  ComPtr<IVuPicture> brighter;
  HRESULT hr = Make(CLSID_VuPicture, picture);
  if (SUCCEEDED(hr)) hr = picture->LoadFile(Bstr(photo).b);
  if (SUCCEEDED(hr)) hr = Make(CLSID_Bright, bright);
  if (SUCCEEDED(hr)) hr = bright->put_Brightness(20);
  if (SUCCEEDED(hr)) hr = bright->Apply(picture.Get(), brighter.GetAddressOf());
  if (SUCCEEDED(hr)) hr = Make(CLSID_Contrast, contrast);
  if (SUCCEEDED(hr)) hr = contrast->put_Contrast(10);
  if (SUCCEEDED(hr)) hr = contrast->Apply(brighter.Get(), result.ReleaseAndGetAddressOf());
  return SUCCEEDED(hr) && !result ? E_POINTER : hr;
}

int RunRoad(const wchar_t* photo, const wchar_t* outBase) {
  ComPtr<IVuPicture> picture, result;
  HRESULT hr = Road(photo, picture, result);
  LONG width = 0, height = 0, bits = 0;
  BSTR make = nullptr;
  if (SUCCEEDED(hr)) hr = picture->ReadExif(Bstr(photo).b);
  if (SUCCEEDED(hr)) hr = result->get_Width(&width);
  if (SUCCEEDED(hr)) hr = result->get_Height(&height);
  if (SUCCEEDED(hr)) hr = result->get_BitCount(&bits);
  if (SUCCEEDED(hr)) hr = picture->get_CameraMake(&make);
  if (SUCCEEDED(hr)) hr = result->SaveAs(Bstr(outBase).b, Bstr(L".png").b);
  if (SUCCEEDED(hr)) hr = result->SaveAs(Bstr(outBase).b, Bstr(L".jpg").b);
  if (FAILED(hr)) {
    std::printf("road failed: 0x%08lx\n", static_cast<unsigned long>(hr));
    SysFreeString(make);
    return 1;
  }
  std::printf("result %ld x %ld, %ld bits, camera %ls\n", width, height, bits, make);
  SysFreeString(make);
  return 0;
}

// The running host: the QuillboxHost.exe that COM started, which holds the
// registrations, and the one it started, which holds the objects. Both 0
// unless exactly one such pair runs.
struct Host {
  DWORD registering = 0, serving = 0;
};
Host RunningHost() {
  const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return {};
  PROCESSENTRY32W entry = {};
  entry.dwSize = sizeof(entry);
  PROCESSENTRY32W found[3];
  int count = 0;
  for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry))
    if (_wcsicmp(entry.szExeFile, L"QuillboxHost.exe") == 0 && count < 3) found[count++] = entry;
  CloseHandle(snapshot);
  if (count != 2) return {};
  for (int i = 0; i < 2; ++i)
    if (found[i].th32ParentProcessID == found[1 - i].th32ProcessID)
      return {found[1 - i].th32ProcessID, found[i].th32ProcessID};
  return {};
}

// Waits up to timeoutMs for the process to end, with exit code 0 when it
// is still there to be asked.
bool EndsWell(DWORD pid, DWORD timeoutMs) {
  const HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
  if (!process) return true;  // already gone
  DWORD code = 1;
  const bool ended = WaitForSingleObject(process, timeoutMs) == WAIT_OBJECT_0 && GetExitCodeProcess(process, &code);
  CloseHandle(process);
  return ended && code == 0;
}

// Waits for a host left by an earlier client to end, so that the one this
// run starts is the only one.
bool NoHost(DWORD timeoutMs) {
  const ULONGLONG start = GetTickCount64();
  for (;;) {
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return false;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    bool running = false;
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry))
      running = running || _wcsicmp(entry.szExeFile, L"QuillboxHost.exe") == 0;
    CloseHandle(snapshot);
    if (!running) return true;
    if (GetTickCount64() - start > timeoutMs) return false;
    Sleep(100);
  }
}

int g_passed = 0, g_failed = 0;
void Check(bool ok, const char* what, HRESULT hr = S_OK) {
  if (ok) {
    ++g_passed;
  } else {
    ++g_failed;
    std::printf("FAIL %s (0x%08lx)\n", what, static_cast<unsigned long>(hr));
  }
}

int RunLife(const wchar_t* photo) {
  Check(NoHost(20000), "no host is left from an earlier client");
  Host first;
  {
    ComPtr<IVuPicture> picture, result;
    const HRESULT hr = Road(photo, picture, result);
    Check(SUCCEEDED(hr), "the road runs through the surrogate", hr);
    first = RunningHost();
    Check(first.serving != 0, "one host serves the objects");
  }
  Check(first.serving && EndsWell(first.serving, 15000) && EndsWell(first.registering, 5000),
        "the host ends cleanly after the last object is released");

  ComPtr<IVuPicture> picture, result;
  HRESULT hr = Road(photo, picture, result);
  Check(SUCCEEDED(hr), "the next activation is served", hr);
  const Host second = RunningHost();
  Check(second.serving != 0 && second.serving != first.serving, "by a new host");

  // The serving process killed while its objects are in use: their proxies
  // fail, the registrations go with it, and the next activation gets a new
  // host that works.
  const HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, second.serving);
  Check(process && TerminateProcess(process, 9) && WaitForSingleObject(process, 10000) == WAIT_OBJECT_0,
        "the host is killed");
  if (process) CloseHandle(process);
  LONG width = 0;
  hr = picture->get_Width(&width);
  Check(FAILED(hr), "a proxy of the killed host fails", hr);
  Check(second.registering && EndsWell(second.registering, 5000), "its registrations are taken back");
  picture.Reset();
  result.Reset();

  hr = Road(photo, picture, result);
  Check(SUCCEEDED(hr), "the activation after the kill is served", hr);
  if (SUCCEEDED(hr)) hr = result->get_Width(&width);
  Check(SUCCEEDED(hr) && width == 500, "and its objects work", hr);
  const Host third = RunningHost();
  Check(third.serving != 0 && third.serving != second.serving, "by a new host");
  picture.Reset();
  result.Reset();
  Check(third.serving && EndsWell(third.serving, 15000) && EndsWell(third.registering, 5000),
        "which ends cleanly after its last object too");

  std::printf("%d passed, %d failed\n", g_passed, g_failed);
  return g_failed;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 2;
  int rc = 2;
  if (argc == 4 && std::wcscmp(argv[1], L"road") == 0) {
    rc = RunRoad(argv[2], argv[3]);
  } else if (argc == 3 && std::wcscmp(argv[1], L"life") == 0) {
    rc = RunLife(argv[2]);
  } else {
    std::printf("usage: vtable_client road PHOTO OUTBASE | life PHOTO\n");
  }
  CoUninitialize();
  return rc;
}
