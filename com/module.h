// Process-wide state of the server module: the instance handle, the lock
// count that keeps the module loaded, and the two critical sections that
// guard class-factory creation and type-information loading.
#pragma once

#include <windows.h>

namespace qb {

// Called on process attach and detach (DllMain), or by a test program that
// links the server statically.
void ModuleAttach(HINSTANCE instance);
void ModuleDetach();  // after the server has released its class factories

HINSTANCE ModuleInstance();

// Lock count: every live object and every LockServer(TRUE) holds one.
LONG ModuleLock();
LONG ModuleUnlock();
LONG ModuleLockCount();

// Guards for the creation of class factories and for the first load of an
// interface's type information.
CRITICAL_SECTION& FactoryLock();
CRITICAL_SECTION& TypeInfoLock();

// Full path of the module file (the DLL, or the test program that links the
// server), as %MODULE% in the registry scripts expands to.
bool ModulePath(wchar_t* buffer, DWORD capacity);

class CriticalSectionGuard {
 public:
  explicit CriticalSectionGuard(CRITICAL_SECTION& cs) : m_cs(cs) { EnterCriticalSection(&m_cs); }
  ~CriticalSectionGuard() { LeaveCriticalSection(&m_cs); }
  CriticalSectionGuard(const CriticalSectionGuard&) = delete;
  CriticalSectionGuard& operator=(const CriticalSectionGuard&) = delete;

 private:
  CRITICAL_SECTION& m_cs;
};

}  // namespace qb
