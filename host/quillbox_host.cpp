// QuillboxHost.exe: the surrogate that serves the classes of Quillbox.dll
// to clients that cannot load it, such as 64-bit scripts and programs.
//
// COM starts it when a client asks for a class out of process (the AppID
// of the classes names it as DllSurrogate). It loads Quillbox.dll from its
// own folder and registers the class object of every class of the
// catalogue in its one apartment, so that all the objects of its clients
// live in this process and can hand picture blocks to each other. The
// command line (the class asked for, in whatever form COM gives it) is not
// needed: every class is served from the start.
//
// The host ends itself: when no object of the module has been alive for
// a short while, it revokes every registration (a later activation starts
// a fresh host), serves the calls that were already under way, and exits.
// It keeps none of the standard handles it was given.
#include <windows.h>
#include <objbase.h>

#include <cwchar>
#include <vector>

#include "quillbox.h"

namespace {

// Every creatable class of the catalogue.
const CLSID* const kClasses[] = {
#define QB_CLASS(name, script) &CLSID_##name,
#define QB_UNSERVED_CLASS(name, script, clsid)
#define QB_APPID(script, appid)
#include "server/catalogue.h"
#undef QB_CLASS
#undef QB_UNSERVED_CLASS
#undef QB_APPID
};

// How long the module must stay without objects before the host ends:
// after its first object, and before one was ever made (the client that
// started the host is still on its way).
constexpr ULONGLONG kIdleMs = 2000;
constexpr ULONGLONG kFirstObjectMs = 15000;
// After revoking: calls already under way are served this long.
constexpr ULONGLONG kLingerMs = 300;
constexpr UINT kPollMs = 100;

using GetClassObjectFn = HRESULT(__stdcall*)(REFCLSID, REFIID, void**);
using CanUnloadNowFn = HRESULT(__stdcall*)();

GetClassObjectFn g_getClassObject = nullptr;
CanUnloadNowFn g_canUnloadNow = nullptr;
bool g_served = false;  // an object has been made

// The class object registered for one class. It holds no reference to the
// module's own factory, which would count as a lock on the module: it
// fetches it for each call, so that DllCanUnloadNow tells whether a client
// still has an object or a LockServer.
class HostFactory final : public IClassFactory {
 public:
  explicit HostFactory(const CLSID& clsid) : m_clsid(clsid) {}

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (riid != IID_IUnknown && riid != IID_IClassFactory) return E_NOINTERFACE;
    *ppv = static_cast<IClassFactory*>(this);
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&m_refs)); }
  STDMETHODIMP_(ULONG) Release() override {
    const LONG n = InterlockedDecrement(&m_refs);
    if (n == 0) delete this;
    return static_cast<ULONG>(n);
  }

  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    IClassFactory* factory = nullptr;
    HRESULT hr = g_getClassObject(m_clsid, IID_IClassFactory, reinterpret_cast<void**>(&factory));
    if (FAILED(hr)) return hr;
    hr = factory->CreateInstance(outer, riid, ppv);
    factory->Release();
    if (SUCCEEDED(hr)) g_served = true;
    return hr;
  }
  STDMETHODIMP LockServer(BOOL lock) override {
    IClassFactory* factory = nullptr;
    HRESULT hr = g_getClassObject(m_clsid, IID_IClassFactory, reinterpret_cast<void**>(&factory));
    if (FAILED(hr)) return hr;
    hr = factory->LockServer(lock);
    factory->Release();
    return hr;
  }

 private:
  const CLSID m_clsid;
  volatile LONG m_refs = 1;
};

bool Served(REFCLSID clsid) {
  for (const CLSID* c : kClasses)
    if (*c == clsid) return true;
  return false;
}

// The surrogate contract of Windows: COM may ask for a class (all are
// registered already) or tell the host to go.
class Surrogate final : public ISurrogate {
 public:
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (riid != IID_IUnknown && riid != IID_ISurrogate) return E_NOINTERFACE;
    *ppv = static_cast<ISurrogate*>(this);
    return S_OK;
  }
  // A static object: COM's references do not decide its life.
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }
  STDMETHODIMP LoadDllServer(REFCLSID clsid) override { return Served(clsid) ? S_OK : CLASS_E_CLASSNOTAVAILABLE; }
  STDMETHODIMP FreeSurrogate() override {
    PostQuitMessage(0);
    return S_OK;
  }
};
Surrogate g_surrogate;

// Runs the apartment's messages (the calls of the clients) until the module
// has had no object for idleMs (or firstMs while none was ever made).
// Returns false when the host was told to quit.
bool ServeWhileBusy(ULONGLONG idleMs, ULONGLONG firstMs) {
  const UINT_PTR timer = SetTimer(nullptr, 0, kPollMs, nullptr);
  ULONGLONG idleSince = GetTickCount64();
  bool quit = false;
  MSG msg;
  for (;;) {
    if (GetMessageW(&msg, nullptr, 0, 0) <= 0) {
      quit = true;
      break;
    }
    if (msg.message == WM_TIMER && msg.hwnd == nullptr && msg.wParam == timer) {
      const ULONGLONG now = GetTickCount64();
      if (g_canUnloadNow() != S_OK)
        idleSince = now;
      else if (now - idleSince >= (g_served ? idleMs : firstMs))
        break;
      continue;
    }
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  KillTimer(nullptr, timer);
  return !quit;
}

// The standard handles a starter may have left: the host writes nowhere,
// and holding a client's pipe open would keep its reader waiting.
void DropStandardHandles() {
  for (DWORD which : {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE}) {
    const HANDLE h = GetStdHandle(which);
    if (h && h != INVALID_HANDLE_VALUE) CloseHandle(h);
    SetStdHandle(which, nullptr);
  }
}

// Quillbox.dll beside this program; its own imports (Rastrum.dll) are
// found beside it too.
HMODULE LoadServer() {
  std::vector<wchar_t> path(32768);
  const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
  if (n == 0 || n >= path.size()) return nullptr;
  wchar_t* slash = std::wcsrchr(path.data(), L'\\');
  if (!slash) return nullptr;
  const wchar_t kName[] = L"Quillbox.dll";
  if (static_cast<size_t>(slash + 1 - path.data()) + sizeof(kName) / sizeof(wchar_t) > path.size()) return nullptr;
  std::wcscpy(slash + 1, kName);
  return LoadLibraryExW(path.data(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

}  // namespace

// Exit codes: 0 after serving, 1 when Quillbox.dll cannot be loaded, 2
// when COM cannot be started or a class cannot be registered.
int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  DropStandardHandles();
  const HMODULE server = LoadServer();
  if (!server) return 1;
  g_getClassObject = reinterpret_cast<GetClassObjectFn>(
      reinterpret_cast<void*>(GetProcAddress(server, "DllGetClassObject")));
  g_canUnloadNow = reinterpret_cast<CanUnloadNowFn>(reinterpret_cast<void*>(GetProcAddress(server, "DllCanUnloadNow")));
  if (!g_getClassObject || !g_canUnloadNow) {
    FreeLibrary(server);
    return 1;
  }
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {
    FreeLibrary(server);
    return 2;
  }

  int result = 0;
  std::vector<DWORD> cookies;
  for (const CLSID* clsid : kClasses) {
    HostFactory* factory = new HostFactory(*clsid);
    DWORD cookie = 0;
    const HRESULT hr = CoRegisterClassObject(*clsid, factory, CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE, &cookie);
    factory->Release();  // the registration holds it
    if (FAILED(hr)) {
      result = 2;
      break;
    }
    cookies.push_back(cookie);
  }
  // Windows asks a surrogate for classes through this; Wine has no use for it.
  CoRegisterSurrogate(&g_surrogate);

  const bool stay = result == 0 && ServeWhileBusy(kIdleMs, kFirstObjectMs);
  for (DWORD cookie : cookies) CoRevokeClassObject(cookie);
  // Calls that reached the host before the revocation are answered; objects
  // they made keep it serving until their clients release them.
  if (stay) ServeWhileBusy(kLingerMs, kLingerMs);

  CoUninitialize();
  FreeLibrary(server);
  return result;
}
