// The class factory the module hands out for every class of its object map.
#pragma once

#include <windows.h>
#include <objbase.h>

#include "server/object_map.h"

namespace qb {

// The module's cache holds one reference to each factory and that reference
// does not lock the module; every reference a client holds does, so a
// client that keeps a factory keeps the module loaded.
class ClassFactory final : public IClassFactory {
 public:
  explicit ClassFactory(CreatorFn create) : m_create(create) {}

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;
  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override;
  STDMETHODIMP LockServer(BOOL lock) override;

 private:
  CreatorFn m_create;
  volatile LONG m_refs = 1;  // the cache's reference
};

}  // namespace qb
