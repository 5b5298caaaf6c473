// Entry points of Quillbox.dll.
#include <windows.h>
#include <objbase.h>

#include "com/module.h"
#include "rastrum/rastrum.h"
#include "server/object_map.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_ATTACH) {
    qb::ModuleAttach(instance);
    DisableThreadLibraryCalls(instance);
  } else if (reason == DLL_PROCESS_DETACH) {
    // At process termination (reserved non-null) other DLLs may already be
    // gone; releasing COM objects then is unsafe, and the memory goes anyway.
    if (!reserved) {
      qb::ReleaseClassFactories();
      qb::ModuleDetach();
    }
  }
  return TRUE;
}

extern "C" HRESULT __stdcall DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  return qb::GetClassFactory(clsid, riid, ppv);
}

extern "C" HRESULT __stdcall DllCanUnloadNow() {
  if (qb::ModuleLockCount() != 0) return S_FALSE;
  // COM unloads the server next, and the imaging library with it: its
  // workers end first, outside the loader's lock.
  NimboEndWorkers();
  return S_OK;
}

extern "C" HRESULT __stdcall DllRegisterServer() { return qb::RegisterServer(); }

extern "C" HRESULT __stdcall DllUnregisterServer() { return qb::UnregisterServer(); }
