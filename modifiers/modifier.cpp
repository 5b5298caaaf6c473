#include "modifiers/modifier.h"

#include <wrl/client.h>

#include <string>

#include "base/ansi_path.h"
#include "base/text.h"
#include "com/error_report.h"
#include "core/vu_picture.h"
#include "rastrum/rastrum.h"

namespace qb {

using Microsoft::WRL::ComPtr;

int32_t ReadSourceHandle(IVuPicture* source) {
  LONG handle = 0;
  if (source) source->get_Handle(&handle);
  PictureBlock::EndLoan(handle);  // read for this call only, not lent to anyone
  return handle;
}

HRESULT FinishApply(IVuPicture* source, PictureBlock block, NamePolicy names, IVuPicture** result,
                    std::optional<GivenSize> size) {
  IVuPicture* created = nullptr;  // made without a reference
  if (FAILED(CreatePicture(&created)) || !created) return PlainFailure(E_FAIL);
  ComPtr<IVuPicture> picture(created);
  if (size) {
    const bool image = static_cast<bool>(block);
    picture->put_Handle(block.handOver());
    picture->put_Height(size->height);
    picture->put_Width(size->width);
    if (image) picture->put_BitCount(size->bitCount);
  } else {
    picture->AttachImage(block.handOver());
  }
  UniqueBstr name;
  if (source) source->get_FileName(name.put());
  if (names == NamePolicy::kAlways || SysStringLen(name.get()) > 0) picture->put_FileName(name.get());
  CarryPictureSettings(source, picture.Get());
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

PictureBlock TakeLibraryBlock(int32_t sourceHandle, int32_t produced, LibraryBlock use) {
  if (produced <= 0) return {};
  if (produced == sourceHandle) return PictureBlock::CopyOf(produced);
  PictureBlock library(produced);
  if (use == LibraryBlock::kAsItIs || GlobalSize(ToHGlobal(library.get())) >= kCopyBelow) return library;
  return PictureBlock::CopyOf(library.get());  // the library's block is freed on return
}

HRESULT FinishLibraryApply(IVuPicture* source, int32_t sourceHandle, int32_t produced,
                           LibraryBlock use, NamePolicy names, IVuPicture** result) {
  if (!result) return E_POINTER;
  return FinishApply(source, TakeLibraryBlock(sourceHandle, produced, use), names, result);
}

HRESULT HoldHandedBlock(PictureBlock& field, int32_t handle) {
  field = PictureBlock::Taken(handle);
  return handle > 0 && !field ? E_OUTOFMEMORY : S_OK;
}

bool LoadIntoField(PictureBlock& field, BSTR path) {
  const AnsiReadPath narrow(BstrView(path));
  field.reset();
  field.reset(NimboLoadFile(path ? narrow.get() : nullptr));
  return field.get() >= 0;
}

HRESULT ReportPreHnd(PictureBlock& preHnd, LONG* handle) {
  if (preHnd) {
    if (!handle) return E_POINTER;
    *handle = preHnd.lend();
    return S_OK;
  }
  DebugTrace(L"m_preHnd is null,you have not copy it");
  return S_OK;
}

}  // namespace qb
