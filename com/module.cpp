#include "com/module.h"

#include "com/type_info_cache.h"

namespace qb {
namespace {

HINSTANCE g_instance = nullptr;
volatile LONG g_locks = 0;
CRITICAL_SECTION g_factoryLock;
CRITICAL_SECTION g_typeInfoLock;

}  // namespace

void ModuleAttach(HINSTANCE instance) {
  g_instance = instance;
  InitializeCriticalSection(&g_factoryLock);
  InitializeCriticalSection(&g_typeInfoLock);
}

void ModuleDetach() {
  ReleaseTypeInfoCache();
  DeleteCriticalSection(&g_typeInfoLock);
  DeleteCriticalSection(&g_factoryLock);
}

HINSTANCE ModuleInstance() { return g_instance; }

LONG ModuleLock() { return InterlockedIncrement(&g_locks); }
LONG ModuleUnlock() { return InterlockedDecrement(&g_locks); }
LONG ModuleLockCount() { return InterlockedCompareExchange(&g_locks, 0, 0); }

CRITICAL_SECTION& FactoryLock() { return g_factoryLock; }
CRITICAL_SECTION& TypeInfoLock() { return g_typeInfoLock; }

bool ModulePath(wchar_t* buffer, DWORD capacity) {
  if (!buffer || capacity == 0) return false;
  DWORD n = GetModuleFileNameW(g_instance, buffer, capacity);
  // A result equal to the capacity means the name was cut short.
  return n > 0 && n < capacity;
}

}  // namespace qb
