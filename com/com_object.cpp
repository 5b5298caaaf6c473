#include "com/com_object.h"

#include <olectl.h>

namespace qb {

ObjectRoot::ObjectRoot(IUnknown* outer) {
  m_inner.owner = this;
  m_outer = outer ? outer : &m_inner;
  ModuleLock();
}

ObjectRoot::~ObjectRoot() { ModuleUnlock(); }

HRESULT ObjectRoot::InnerQueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  void* found = riid == IID_IUnknown ? static_cast<IUnknown*>(&m_inner) : FindInterface(riid);
  if (!found) return E_NOINTERFACE;
  static_cast<IUnknown*>(found)->AddRef();
  *ppv = found;
  return S_OK;
}

ULONG ObjectRoot::InnerAddRef() { return static_cast<ULONG>(InterlockedIncrement(&m_refs)); }

ULONG ObjectRoot::InnerRelease() {
  LONG n = InterlockedDecrement(&m_refs);
  if (n == 0) {
    // Guard against the destructor's own AddRef/Release pairs re-entering.
    m_refs = 1;
    delete this;
  }
  return static_cast<ULONG>(n);
}

namespace {

// The enumeration of an empty connection-point map.
class EmptyConnectionPointEnum final : public StandaloneObject<IEnumConnectionPoints> {
 public:
  STDMETHODIMP Next(ULONG count, IConnectionPoint** points, ULONG* fetched) override {
    if (!points || (count != 1 && !fetched)) return E_POINTER;
    if (fetched) *fetched = 0;
    return count == 0 ? S_OK : S_FALSE;
  }
  STDMETHODIMP Skip(ULONG count) override { return count == 0 ? S_OK : S_FALSE; }
  STDMETHODIMP Reset() override { return S_OK; }
  STDMETHODIMP Clone(IEnumConnectionPoints** result) override {
    if (!result) return E_POINTER;
    *result = new (std::nothrow) EmptyConnectionPointEnum();
    if (!*result) return E_OUTOFMEMORY;
    (*result)->AddRef();
    return S_OK;
  }
};

}  // namespace

STDMETHODIMP NoConnectionPoints::EnumConnectionPoints(IEnumConnectionPoints** result) {
  if (!result) return E_POINTER;
  *result = new (std::nothrow) EmptyConnectionPointEnum();
  if (!*result) return E_OUTOFMEMORY;
  (*result)->AddRef();
  return S_OK;
}

STDMETHODIMP NoConnectionPoints::FindConnectionPoint(REFIID, IConnectionPoint** result) {
  if (!result) return E_POINTER;
  *result = nullptr;
  return CONNECT_E_NOCONNECTION;
}

}  // namespace qb
