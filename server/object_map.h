// The object map: one entry per creatable class, in catalogue order. Class
// factories, registration and the tests all read this one table.
#pragma once

#include <windows.h>
#include <objbase.h>

#include <cstddef>

namespace qb {

using CreatorFn = HRESULT (*)(IUnknown* outer, REFIID riid, void** ppv);

struct ObjectMapEntry {
  const CLSID* clsid;
  const wchar_t* name;  // class name: "VuPicture", as in the ProgID
  UINT scriptId;        // number of the class's REGISTRY resource
  CreatorFn create;
};

const ObjectMapEntry* ObjectMap();
size_t ObjectMapSize();

// The entry for clsid, or null when the module does not serve it.
const ObjectMapEntry* FindClass(REFCLSID clsid);

// The class factory of an entry, created on first request and cached.
HRESULT GetClassFactory(REFCLSID clsid, REFIID riid, void** ppv);

// Runs the AppID's registry script and every entry's, registering (stops at
// the first failure) or unregistering (goes on past failures, returns
// S_OK).
HRESULT RegisterServer();
HRESULT UnregisterServer();

// Releases the cached factories (process detach).
void ReleaseClassFactories();

}  // namespace qb
