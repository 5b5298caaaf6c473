#include "modifiers/modifier.h"

#include "rastrum/rastrum.h"
#include "base/resource_guards.h"
#include "core/vu_picture.h"
#include "com/error_report.h"

namespace qb {

int32_t ReadSourceHandle(IVuPicture* source) {
  LONG handle = 0;
  if (source) source->get_Handle(&handle);
  return handle;
}

HRESULT FinishApply(IVuPicture* source, int32_t block, NamePolicy names, IVuPicture** result) {
  IVuPicture* picture = nullptr;
  if (FAILED(CreatePicture(&picture)) || !picture) {
    if (block > 0) NimboFreeMemory(block);
    return E_FAIL;
  }
  picture->AddRef();
  picture->AttachImage(block);
  UniqueBstr name;
  if (source) source->get_FileName(name.put());
  if (names == NamePolicy::kAlways || name.length() > 0) picture->put_FileName(name.get());
  *result = picture;
  return S_OK;
}

HRESULT ReportPreHnd(int32_t preHnd, LONG* handle) {
  if (preHnd > 0) {
    if (!handle) return E_POINTER;
    *handle = preHnd;
    return S_OK;
  }
  DebugTrace(L"m_preHnd is null,you have not copy it");
  return S_OK;
}

}  // namespace qb
