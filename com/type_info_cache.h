// Type information of the server's interfaces, loaded from the registered
// type library on first use and kept for the life of the module.
#pragma once

#include <windows.h>
#include <oaidl.h>

namespace qb {

// The cached type information for the interface iid, without a reference
// (the cache keeps it). Fails with the HRESULT of LoadRegTypeLib or
// GetTypeInfoOfGuid; a failure is not cached, so a library registered later
// is found on the next call.
HRESULT CachedTypeInfo(REFIID iid, LCID lcid, ITypeInfo** info);

// Releases everything cached; called on process detach.
void ReleaseTypeInfoCache();

}  // namespace qb
