#include "server/class_factory.h"

#include "com/module.h"

namespace qb {

STDMETHODIMP ClassFactory::QueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (riid != IID_IUnknown && riid != IID_IClassFactory) return E_NOINTERFACE;
  *ppv = static_cast<IClassFactory*>(this);
  AddRef();
  return S_OK;
}

STDMETHODIMP_(ULONG) ClassFactory::AddRef() {
  LONG n = InterlockedIncrement(&m_refs);
  if (n == 2) ModuleLock();
  return static_cast<ULONG>(n);
}

STDMETHODIMP_(ULONG) ClassFactory::Release() {
  LONG n = InterlockedDecrement(&m_refs);
  if (n == 1) ModuleUnlock();
  if (n == 0) delete this;
  return static_cast<ULONG>(n);
}

STDMETHODIMP ClassFactory::CreateInstance(IUnknown* outer, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  // An aggregate must hold its inner object through IUnknown.
  if (outer && riid != IID_IUnknown) return CLASS_E_NOAGGREGATION;
  return m_create(outer, riid, ppv);
}

STDMETHODIMP ClassFactory::LockServer(BOOL lock) {
  if (lock)
    ModuleLock();
  else
    ModuleUnlock();
  return S_OK;
}

}  // namespace qb
