#include "modifiers/modifier.h"

#include <wrl/client.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "base/ansi_path.h"
#include "base/portable/work_pool.h"
#include "base/text.h"
#include "com/error_report.h"
#include "core/block_recycler.h"
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
  // CreatePicture makes a VuPicture, which takes the block as it stands.
  VuPicture* made = static_cast<VuPicture*>(static_cast<IVuPicture2*>(created));
  if (size)
    made->Adopt(std::move(block), size->width, size->height, size->bitCount);
  else
    made->Adopt(std::move(block));
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

PictureBlock TakeLibraryBlock(int32_t sourceHandle, int32_t produced) {
  if (produced <= 0) return {};
  if (produced == sourceHandle) return PictureBlock::CopyOf(produced);
  return PictureBlock(produced);
}

HRESULT FinishThroughLibrary(IVuPicture* source, int32_t sourceHandle, int32_t produced,
                             const LibrarySteps& steps, IVuPicture** result) {
  PictureBlock made = TakeLibraryBlock(sourceHandle, produced);
  const bool failed = produced < 0 || (steps.needsBlock && !made);
  if (failed && steps.failed) {
    if (steps.failedTrace) DebuggerLine(steps.failedTrace);
    if (steps.failedMessage) ShowMessage(steps.failedMessage);
    return PlainFailure(*steps.failed);
  }
  if (steps.arrowAfter) SetCursor(LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW)));
  return FinishApply(source, std::move(made), steps.names, result);
}

PictureBlock CopyInBands(int32_t h, bool waitCursor, const std::function<void(dib::ImageView)>& kernel) {
  // Bands of about this many bytes stay in the cache between the copy and
  // the kernel.
  constexpr size_t kBandBytes = size_t{256} << 10;
  LockedDib from(h, dib::kDepth24);
  if (!from.ok()) return {};
  const dib::DibLayout& l = from.layout();
  if (l.compression != dib::kBiRgb || l.colorTableEntries != 0) return {};
  PictureBlock made(FromHGlobal(NewPictureBlock(from.size())));
  if (!made) return {};
  GlobalLockGuard to(ToHGlobal(made.get()));
  if (!to) return {};
  const size_t rowsEnd = l.pixelOffset + size_t{l.stride} * static_cast<size_t>(l.height);
  std::memcpy(to.bytes(), from.bytes(), l.pixelOffset);
  std::memcpy(to.bytes() + rowsEnd, from.bytes() + rowsEnd, from.size() - rowsEnd);
  std::optional<WaitCursor> wait;
  if (waitCursor) wait.emplace();
  const int32_t bandRows = static_cast<int32_t>(std::max<size_t>(1, kBandBytes / std::max<uint32_t>(l.stride, 1)));
  work::ForEachBandOfRows(l.width, l.height, bandRows, [&](int32_t first, int32_t rows) {
    const size_t offset = l.pixelOffset + size_t{l.stride} * static_cast<size_t>(first);
    std::memcpy(to.bytes() + offset, from.bytes() + offset, size_t{l.stride} * static_cast<size_t>(rows));
    kernel(dib::ImageView(to.bytes() + offset, l.width, rows, l.stride, l.bottomUp));
  });
  return made;
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
