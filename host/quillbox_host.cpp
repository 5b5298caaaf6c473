// QuillboxHost.exe: the surrogate that serves the classes of Quillbox.dll
// to clients that cannot load it, such as 64-bit scripts and programs.
//
// COM starts it when a client asks for a class out of process (the AppID
// of the classes names it as DllSurrogate). The command line COM gives (the
// class asked for) is not needed: every class of the catalogue is served
// from the start. It runs as two processes of this program:
//
//   - the serving process (-serve) loads Quillbox.dll from this program's
//     folder and makes the objects, all in its one apartment, so that the
//     objects of every client live together and can hand picture blocks to
//     each other. When no object of the module has been alive for a short
//     while it asks for its classes to be taken back, answers the calls
//     already under way, and exits.
//   - the process COM started registers, for every class, the serving
//     process's class object with COM, and takes the registrations back when
//     the serving process asks or ends in any way, then exits. A later
//     activation starts a fresh pair.
//
// The registrations live apart from the picture code so that a serving
// process that dies (killed, or crashed) never leaves registrations behind
// that point at it: Wine's COM would hand those out to every later
// activation. Neither process keeps the standard handles it was given.
#include <windows.h>
#include <objbase.h>
#include <shellapi.h>

#include <cwchar>
#include <string>
#include <vector>

#include "quillbox.h"

namespace {

// Every creatable class of the catalogue.
const CLSID* const kClasses[] = {
#define QB_CLASS(name, script) &CLSID_##name,
#define QB_UNSERVED_CLASS(name, script, clsid)
#define QB_APPID(script, appid)
#define QB_CLASS_COUNT(n)
#include "server/catalogue.h"
#undef QB_CLASS
#undef QB_UNSERVED_CLASS
#undef QB_APPID
#undef QB_CLASS_COUNT
};
constexpr size_t kClassCount = sizeof(kClasses) / sizeof(kClasses[0]);

// How long the module must stay without objects before the serving process
// ends: after its first object, and before one was ever made (the client
// that started the host is still on its way).
constexpr ULONGLONG kIdleMs = 2000;
constexpr ULONGLONG kFirstObjectMs = 15000;
// After the classes are taken back: calls already under way are served
// this long.
constexpr ULONGLONG kLingerMs = 300;
// The longest wait for the registering process to take the classes back
// (it is gone when it does not answer in time).
constexpr ULONGLONG kRevokeWaitMs = 5000;
constexpr UINT kPollMs = 100;
// The longest marshalled class object the registering process accepts.
constexpr DWORD kMaxObjref = 64 * 1024;

// The standard handles a starter may have left: the host writes nowhere,
// and holding a client's pipe open would keep its reader waiting.
void DropStandardHandles() {
  for (DWORD which : {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE}) {
    const HANDLE h = GetStdHandle(which);
    if (h && h != INVALID_HANDLE_VALUE) CloseHandle(h);
    SetStdHandle(which, nullptr);
  }
}

std::wstring ProgramPath() {
  std::vector<wchar_t> path(32768);
  const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
  return n > 0 && n < path.size() ? std::wstring(path.data(), n) : std::wstring();
}

// ---- The serving process ------------------------------------------------

using GetClassObjectFn = HRESULT(__stdcall*)(REFCLSID, REFIID, void**);
using CanUnloadNowFn = HRESULT(__stdcall*)();

GetClassObjectFn g_getClassObject = nullptr;
CanUnloadNowFn g_canUnloadNow = nullptr;
bool g_served = false;  // an object has been made

// The class object of one class. It holds no reference to the module's own
// factory, which would count as a lock on the module: it fetches it for each
// call, so that DllCanUnloadNow tells whether a client still has an object
// or a LockServer.
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

// Runs the apartment's messages (the calls of the clients) until the module
// has had no object for idleMs (or firstMs while none was ever made); or,
// when `until` is given, until it is signalled or firstMs have passed.
void ServeWhileBusy(ULONGLONG idleMs, ULONGLONG firstMs, HANDLE until = nullptr) {
  const UINT_PTR timer = SetTimer(nullptr, 0, kPollMs, nullptr);
  const ULONGLONG start = GetTickCount64();
  ULONGLONG idleSince = start;
  for (bool done = false; !done;) {
    const DWORD woke = MsgWaitForMultipleObjectsEx(until ? 1 : 0, &until, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    if (until && woke == WAIT_OBJECT_0) break;
    MSG msg;
    while (!done && PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) {
        done = true;
      } else if (msg.message == WM_TIMER && msg.hwnd == nullptr && msg.wParam == timer) {
        const ULONGLONG now = GetTickCount64();
        if (until)
          done = now - start >= firstMs;
        else if (g_canUnloadNow() != S_OK)
          idleSince = now;
        else if (now - idleSince >= (g_served ? idleMs : firstMs))
          done = true;
      } else {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
      }
    }
  }
  KillTimer(nullptr, timer);
}

bool WriteAll(HANDLE pipe, const void* data, DWORD size) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    DWORD written = 0;
    if (!WriteFile(pipe, p, size, &written, nullptr) || written == 0) return false;
    p += written;
    size -= written;
  }
  return true;
}

// Marshals the class object of a class and writes it to the pipe: its
// length, then its bytes.
bool SendClassObject(HANDLE pipe, const CLSID& clsid) {
  IStream* stream = nullptr;
  if (FAILED(CreateStreamOnHGlobal(nullptr, TRUE, &stream))) return false;
  HostFactory* factory = new HostFactory(clsid);
  HRESULT hr = CoMarshalInterface(stream, IID_IClassFactory, factory, MSHCTX_LOCAL, nullptr, MSHLFLAGS_NORMAL);
  factory->Release();  // the marshalled reference keeps it
  ULARGE_INTEGER size = {};
  HGLOBAL block = nullptr;
  if (SUCCEEDED(hr)) hr = stream->Seek(LARGE_INTEGER{}, STREAM_SEEK_CUR, &size);
  if (SUCCEEDED(hr)) hr = GetHGlobalFromStream(stream, &block);
  bool sent = false;
  if (SUCCEEDED(hr) && size.QuadPart <= kMaxObjref) {
    const DWORD length = static_cast<DWORD>(size.QuadPart);
    const void* bytes = GlobalLock(block);
    sent = bytes && WriteAll(pipe, &length, sizeof length) && WriteAll(pipe, bytes, length);
    if (bytes) GlobalUnlock(block);
  }
  stream->Release();
  return sent;
}

// Quillbox.dll beside this program; its own imports (Rastrum.dll) are
// found beside it too.
HMODULE LoadServer() {
  std::wstring path = ProgramPath();
  const size_t slash = path.rfind(L'\\');
  if (slash == std::wstring::npos) return nullptr;
  path.replace(slash + 1, std::wstring::npos, L"Quillbox.dll");
  return LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

// pipe: where the class objects go; revoke: set to ask for the classes to
// be taken back; revoked: set once they are.
int Serve(HANDLE pipe, HANDLE revoke, HANDLE revoked) {
  const HMODULE server = LoadServer();
  if (!server) return 1;
  g_getClassObject = reinterpret_cast<GetClassObjectFn>(
      reinterpret_cast<void*>(GetProcAddress(server, "DllGetClassObject")));
  g_canUnloadNow = reinterpret_cast<CanUnloadNowFn>(reinterpret_cast<void*>(GetProcAddress(server, "DllCanUnloadNow")));
  if (!g_getClassObject || !g_canUnloadNow || FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {
    FreeLibrary(server);
    return 1;
  }
  bool sent = true;
  for (const CLSID* clsid : kClasses) sent = sent && SendClassObject(pipe, *clsid);
  CloseHandle(pipe);
  if (sent) {
    ServeWhileBusy(kIdleMs, kFirstObjectMs);
    SetEvent(revoke);
    // Calls that reach this process before the classes are taken back, and
    // the objects they make, are served.
    ServeWhileBusy(0, kRevokeWaitMs, revoked);
    ServeWhileBusy(kLingerMs, kLingerMs);
  }
  CoUninitialize();
  FreeLibrary(server);
  return sent ? 0 : 2;
}

// ---- The registering process ----------------------------------------------

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
  STDMETHODIMP LoadDllServer(REFCLSID clsid) override {
    for (const CLSID* c : kClasses)
      if (*c == clsid) return S_OK;
    return CLASS_E_CLASSNOTAVAILABLE;
  }
  STDMETHODIMP FreeSurrogate() override {
    PostQuitMessage(0);
    return S_OK;
  }
};
Surrogate g_surrogate;

bool ReadAll(HANDLE pipe, void* data, DWORD size) {
  char* p = static_cast<char*>(data);
  while (size > 0) {
    DWORD read = 0;
    if (!ReadFile(pipe, p, size, &read, nullptr) || read == 0) return false;
    p += read;
    size -= read;
  }
  return true;
}

// Reads one marshalled class object from the pipe and unmarshals it.
IClassFactory* ReceiveClassObject(HANDLE pipe) {
  DWORD length = 0;
  if (!ReadAll(pipe, &length, sizeof length) || length == 0 || length > kMaxObjref) return nullptr;
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, length);
  void* bytes = block ? GlobalLock(block) : nullptr;
  const bool read = bytes && ReadAll(pipe, bytes, length);
  if (bytes) GlobalUnlock(block);
  IStream* stream = nullptr;
  if (!read || FAILED(CreateStreamOnHGlobal(block, TRUE, &stream))) {
    if (block) GlobalFree(block);
    return nullptr;
  }
  IClassFactory* factory = nullptr;
  if (FAILED(CoUnmarshalInterface(stream, IID_IClassFactory, reinterpret_cast<void**>(&factory)))) factory = nullptr;
  stream->Release();
  return factory;
}

// Starts the serving process with the three handles it inherits.
HANDLE StartServing(HANDLE pipe, HANDLE revoke, HANDLE revoked) {
  const std::wstring program = ProgramPath();
  wchar_t arguments[96];
  swprintf(arguments, 96, L" -serve %llu %llu %llu", static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(pipe)),
           static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(revoke)),
           static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(revoked)));
  std::wstring line = L"\"" + program + L"\"" + arguments;
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;  // and none: the serving process has no standard handles
  PROCESS_INFORMATION process = {};
  if (program.empty() || !CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, TRUE, DETACHED_PROCESS,
                                         nullptr, nullptr, &startup, &process))
    return nullptr;
  CloseHandle(process.hThread);
  return process.hProcess;
}

int Register() {
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 2;
  SECURITY_ATTRIBUTES inherited = {sizeof inherited, nullptr, TRUE};
  HANDLE readEnd = nullptr, writeEnd = nullptr;
  const HANDLE revoke = CreateEventW(&inherited, FALSE, FALSE, nullptr);
  const HANDLE revoked = CreateEventW(&inherited, TRUE, FALSE, nullptr);
  HANDLE serving = nullptr;
  if (revoke && revoked && CreatePipe(&readEnd, &writeEnd, &inherited, 0)) {
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    serving = StartServing(writeEnd, revoke, revoked);
    CloseHandle(writeEnd);
  }

  std::vector<DWORD> cookies;
  for (size_t i = 0; serving && i < kClassCount; ++i) {
    IClassFactory* factory = ReceiveClassObject(readEnd);
    DWORD cookie = 0;
    if (!factory) break;
    const HRESULT hr = CoRegisterClassObject(*kClasses[i], factory, CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE, &cookie);
    factory->Release();  // the registration holds it
    if (FAILED(hr)) break;
    cookies.push_back(cookie);
  }
  if (readEnd) CloseHandle(readEnd);
  const bool registered = cookies.size() == kClassCount;
  // Windows asks a surrogate for classes through this; Wine has no use for it.
  if (registered) CoRegisterSurrogate(&g_surrogate);

  // Activations are answered here until the serving process asks for its
  // classes back or ends (done, killed or crashed), or COM says to go.
  const HANDLE events[] = {serving, revoke};
  for (bool done = !registered; !done;) {
    const DWORD woke = MsgWaitForMultipleObjectsEx(2, events, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    if (woke == WAIT_OBJECT_0 || woke == WAIT_OBJECT_0 + 1) break;
    MSG msg;
    while (!done && PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) {
        done = true;
      } else {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
      }
    }
  }
  for (DWORD cookie : cookies) CoRevokeClassObject(cookie);
  if (revoked) SetEvent(revoked);
  if (serving && !registered) TerminateProcess(serving, 2);
  for (HANDLE h : {serving, revoke, revoked})
    if (h) CloseHandle(h);
  CoUninitialize();
  return registered ? 0 : 2;
}

}  // namespace

// Exit codes: 0 after serving; 1 when Quillbox.dll cannot be loaded; 2
// when COM cannot be started, the serving process cannot be started, or a
// class cannot be registered.
int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  DropStandardHandles();
  int argc = 0;
  LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (argv && argc == 5 && std::wcscmp(argv[1], L"-serve") == 0) {
    const auto handle = [&](int i) { return reinterpret_cast<HANDLE>(static_cast<UINT_PTR>(_wcstoui64(argv[i], nullptr, 10))); };
    const HANDLE pipe = handle(2), revoke = handle(3), revoked = handle(4);
    LocalFree(argv);
    return Serve(pipe, revoke, revoked);
  }
  if (argv) LocalFree(argv);
  return Register();
}
