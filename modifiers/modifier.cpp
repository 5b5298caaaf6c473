#include "modifiers/modifier.h"

#include <wrl/client.h>

#include "com/error_report.h"
#include "core/vu_picture.h"

namespace qb {

using Microsoft::WRL::ComPtr;

int32_t ReadSourceHandle(IVuPicture* source) {
  LONG handle = 0;
  if (source) source->get_Handle(&handle);
  return handle;
}

HRESULT FinishApply(IVuPicture* source, PictureBlock block, NamePolicy names, IVuPicture** result,
                    std::optional<GivenSize> size) {
  IVuPicture* created = nullptr;  // made without a reference
  if (FAILED(CreatePicture(&created)) || !created) return E_FAIL;
  ComPtr<IVuPicture> picture(created);
  if (size) {
    picture->put_Handle(block.release());
    picture->put_Height(size->height);
    picture->put_Width(size->width);
  } else {
    picture->AttachImage(block.release());
  }
  UniqueBstr name;
  if (source) source->get_FileName(name.put());
  if (names == NamePolicy::kAlways || name.length() > 0) picture->put_FileName(name.get());
  *result = picture.Detach();
  return S_OK;
}

bool TakesAsItIs(int32_t h, dib::DepthSet handled) {
  LockedDib check(h, dib::kAllDepths);
  if (!check.ok()) return false;
  const dib::DibLayout& l = check.layout();
  const bool plain24 = l.bitCount == 24 && l.compression == dib::kBiRgb && l.colorTableEntries == 0;
  return (dib::DepthFlag(l.bitCount) & handled) && (l.bitCount != 24 || plain24);
}

HRESULT FinishLibraryApply(IVuPicture* source, int32_t sourceHandle, int32_t produced,
                           LibraryBlock use, NamePolicy names, IVuPicture** result) {
  if (!result) return E_POINTER;
  PictureBlock block;
  if (produced > 0 && produced == sourceHandle) {
    block = PictureBlock::CopyOf(produced);
  } else if (use == LibraryBlock::kCopied) {
    const PictureBlock library(produced);
    block = PictureBlock::CopyOf(library.get());
  } else {
    block.reset(produced);
  }
  return FinishApply(source, std::move(block), names, result);
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
