#include "com/type_info_cache.h"

#include <wrl/client.h>

#include "quillbox.h"
#include "com/module.h"

namespace qb {
namespace {

// The cache holds its references as plain pointers on purpose: they are
// released by ReleaseTypeInfoCache on an orderly detach, never by a static
// destructor at process termination, when OLE may already be gone.
struct CachedEntry {
  IID iid;
  ITypeInfo* info;
};

// One entry per dual interface of the library; the interfaces are few and
// fixed, so a small array searched linearly is all the cache needs.
constexpr int kCapacity = 48;
CachedEntry g_entries[kCapacity];
int g_count = 0;

}  // namespace

HRESULT CachedTypeInfo(REFIID iid, LCID lcid, ITypeInfo** info) {
  if (!info) return E_POINTER;
  *info = nullptr;
  CriticalSectionGuard guard(TypeInfoLock());
  for (int i = 0; i < g_count; ++i) {
    if (g_entries[i].iid == iid) {
      *info = g_entries[i].info;
      return S_OK;
    }
  }
  if (g_count == kCapacity) return E_OUTOFMEMORY;
  Microsoft::WRL::ComPtr<ITypeLib> library;
  HRESULT hr = LoadRegTypeLib(LIBID_QuillboxLib, 1, 0, lcid, library.GetAddressOf());
  if (FAILED(hr)) return hr;
  ITypeInfo* found = nullptr;
  hr = library->GetTypeInfoOfGuid(iid, &found);
  if (FAILED(hr)) return hr;
  g_entries[g_count++] = {iid, found};
  *info = found;
  return S_OK;
}

void ReleaseTypeInfoCache() {
  CriticalSectionGuard guard(TypeInfoLock());
  for (int i = 0; i < g_count; ++i) g_entries[i].info->Release();
  g_count = 0;
}

}  // namespace qb
