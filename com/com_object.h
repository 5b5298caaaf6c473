// The object core every class of the server sits on.
//
// ObjectRoot is the non-delegating unknown: it owns the reference count,
// keeps the module locked while the object lives, and answers
// QueryInterface from the class's interface map. The interfaces a class
// implements delegate their IUnknown methods to the controlling unknown:
// the outer object when the object is aggregated, otherwise its own inner
// unknown. Dispatch goes through the registered type library.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <oaidl.h>
#include <ocidl.h>

#include <new>

#include "com/module.h"
#include "com/type_info_cache.h"

namespace qb {

class ObjectRoot {
 public:
  explicit ObjectRoot(IUnknown* outer);
  virtual ~ObjectRoot();
  ObjectRoot(const ObjectRoot&) = delete;
  ObjectRoot& operator=(const ObjectRoot&) = delete;

  HRESULT InnerQueryInterface(REFIID riid, void** ppv);
  ULONG InnerAddRef();
  ULONG InnerRelease();

  IUnknown* InnerUnknown() { return &m_inner; }
  IUnknown* ControllingUnknown() const { return m_outer; }

  // Second construction step, run by the creator after the object holds a
  // reference; a failure destroys the object.
  virtual HRESULT FinalConstruct() { return S_OK; }

 protected:
  // The interface pointer that answers riid, without a reference, or null.
  // IUnknown is answered by the root itself.
  virtual void* FindInterface(REFIID riid) = 0;

 private:
  struct Inner final : IUnknown {
    ObjectRoot* owner;
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
      return owner->InnerQueryInterface(riid, ppv);
    }
    STDMETHODIMP_(ULONG) AddRef() override { return owner->InnerAddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return owner->InnerRelease(); }
  };

  Inner m_inner;
  IUnknown* m_outer;
  volatile LONG m_refs = 0;
};

// The IUnknown methods of every interface of a class, forwarded to the
// controlling unknown.
#define QB_DELEGATING_IUNKNOWN                                            \
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {         \
    return ControllingUnknown()->QueryInterface(riid, ppv);               \
  }                                                                       \
  STDMETHODIMP_(ULONG) AddRef() override { return ControllingUnknown()->AddRef(); } \
  STDMETHODIMP_(ULONG) Release() override { return ControllingUnknown()->Release(); }

// IDispatch of a dual interface, served by the type information of that
// interface in the registered type library. When the library is not
// registered these calls fail with LoadRegTypeLib's HRESULT; the vtable is
// unaffected.
template <class Dual>
class DispatchImpl : public Dual {
 public:
  STDMETHODIMP GetTypeInfoCount(UINT* count) override {
    if (!count) return E_POINTER;
    *count = 1;
    return S_OK;
  }
  STDMETHODIMP GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override {
    if (!info) return E_POINTER;
    *info = nullptr;
    if (index != 0) return DISP_E_BADINDEX;
    HRESULT hr = CachedTypeInfo(__uuidof(Dual), lcid, info);
    if (SUCCEEDED(hr)) (*info)->AddRef();
    return hr;
  }
  STDMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid,
                             DISPID* ids) override {
    if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
    ITypeInfo* info = nullptr;
    HRESULT hr = CachedTypeInfo(__uuidof(Dual), lcid, &info);
    if (FAILED(hr)) return hr;
    return info->GetIDsOfNames(names, count, ids);
  }
  STDMETHODIMP Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params,
                      VARIANT* result, EXCEPINFO* excep, UINT* argErr) override {
    if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
    ITypeInfo* info = nullptr;
    HRESULT hr = CachedTypeInfo(__uuidof(Dual), lcid, &info);
    if (FAILED(hr)) return hr;
    return info->Invoke(static_cast<Dual*>(this), id, flags, params, result, excep, argErr);
  }
};

// ISupportErrorInfo for a class whose own interface is Own.
template <class Own>
class SupportErrorInfoFor : public ISupportErrorInfo {
 public:
  using Interface = ISupportErrorInfo;
  STDMETHODIMP InterfaceSupportsErrorInfo(REFIID riid) override {
    return riid == __uuidof(Own) ? S_OK : S_FALSE;
  }
};

// IConnectionPointContainer over an empty connection-point map: the class
// fires no events.
class NoConnectionPoints : public IConnectionPointContainer {
 public:
  using Interface = IConnectionPointContainer;
  STDMETHODIMP EnumConnectionPoints(IEnumConnectionPoints** result) override;
  STDMETHODIMP FindConnectionPoint(REFIID riid, IConnectionPoint** result) override;
};

// A class with one dual interface Primary (answered also for IDispatch and
// for the interfaces Primary derives from, see AlsoPrimary) and further
// interfaces Extra..., each a mixin that names the interface it implements
// as Extra::Interface.
template <class Primary, class... Extra>
class ComObject : public ObjectRoot, public DispatchImpl<Primary>, public Extra... {
 public:
  explicit ComObject(IUnknown* outer) : ObjectRoot(outer) {}
  QB_DELEGATING_IUNKNOWN

 protected:
  // Base interfaces of Primary that a client may ask for by their own IID.
  virtual bool AlsoPrimary(REFIID) const { return false; }

  void* FindInterface(REFIID riid) override {
    if (riid == IID_IDispatch || riid == __uuidof(Primary) || AlsoPrimary(riid))
      return static_cast<Primary*>(this);
    void* found = nullptr;
    (void)((riid == __uuidof(typename Extra::Interface)
                ? (found = static_cast<typename Extra::Interface*>(static_cast<Extra*>(this)), true)
                : false) ||
           ...);
    return found;
  }
};

// An object of the module with a single interface I that is never
// aggregated (enumerators): its own reference count and a module lock.
template <class I>
class StandaloneObject : public I {
 public:
  StandaloneObject() { ModuleLock(); }
  virtual ~StandaloneObject() { ModuleUnlock(); }
  StandaloneObject(const StandaloneObject&) = delete;
  StandaloneObject& operator=(const StandaloneObject&) = delete;

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (riid != IID_IUnknown && riid != __uuidof(I)) return E_NOINTERFACE;
    *ppv = static_cast<I*>(this);
    this->AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&m_refs)); }
  STDMETHODIMP_(ULONG) Release() override {
    LONG n = InterlockedDecrement(&m_refs);
    if (n == 0) delete this;
    return static_cast<ULONG>(n);
  }

 private:
  volatile LONG m_refs = 0;
};

// Builds one object of class T, runs its construction step and asks it for
// riid. A failure at any step destroys the object. outer is the controlling
// unknown of an aggregate (the class factory has already checked that only
// IUnknown is asked for then).
template <class T>
HRESULT CreateObject(IUnknown* outer, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  T* object = new (std::nothrow) T(outer);
  if (!object) return E_OUTOFMEMORY;
  object->InnerAddRef();
  HRESULT hr = object->FinalConstruct();
  if (SUCCEEDED(hr)) hr = object->InnerQueryInterface(riid, ppv);
  object->InnerRelease();
  return hr;
}

}  // namespace qb
