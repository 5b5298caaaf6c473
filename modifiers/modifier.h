// What every modifier class shares: one dual interface that extends
// IPictureModifier (answered with the same pointer, so a client can apply
// any modifier without knowing its class), the working handle m_preHnd,
// and the steps of Apply that are the same for all of them:
//
//   1. read the source's handle (ReadSourceHandle);
//   2. the class's own checks;
//   3. the result block, made in one of two ways:
//      - ApplyToCopy: a copy of the source transformed in place by the
//        class's kernel;
//      - FinishLibraryApply: the imaging library's block, copied or as it
//        is;
//   4-7. a new picture that takes the block, the file name passed on, the
//      picture handed out with one reference (FinishApply).
//
// A class is then its parameters, its checks and its kernel.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <utility>

#include "base/portable/dib_format.h"
#include "base/resource_guards.h"
#include "com/com_object.h"
#include "com/error_report.h"
#include "core/packed_dib.h"
#include "core/picture_block.h"
#include "quillbox.h"

namespace qb {

// Step 1: the source's image handle, 0 when the source fails or holds none
// (the HRESULT of get_Handle is not examined).
int32_t ReadSourceHandle(IVuPicture* source);

// Which file names the result takes from its source.
enum class NamePolicy {
  kAlways,        // passed on even when empty
  kWhenNonEmpty,  // Bright and Contrast
};

// Steps 4 to 7: creates the result picture, attaches `block` (the picture
// owns it from then on), passes the source's file name on and stores the
// picture in *result with one reference. E_FAIL when no picture can be made;
// the block is then freed and *result left as it was.
//
// With `size`, the picture gets the block with put_Handle and then the
// given height and width one by one instead of through AttachImage, and,
// when there is a block, the given bit count.
struct GivenSize {
  int32_t height = 0;
  int32_t width = 0;
  int32_t bitCount = 24;
};
HRESULT FinishApply(IVuPicture* source, PictureBlock block, NamePolicy names, IVuPicture** result,
                    std::optional<GivenSize> size = std::nullopt);

// How a class that transforms a copy of its source runs the shared steps.
struct CopySteps {
  // Depths the kernel takes as they are; a sound block of any other depth
  // is converted to a bottom-up 24-bit copy first.
  dib::DepthSet handled = dib::kDepth24;
  // The result for a source without an image, when the class checks for
  // one; otherwise such a source goes on as a source whose copy cannot be
  // made.
  std::optional<HRESULT> emptySource = E_UNEXPECTED;
  // The result when no copy can be made, and the debugger line sent then
  // (none when null).
  HRESULT noCopy = E_UNEXPECTED;
  const wchar_t* noCopyTrace = nullptr;
  // The result when the copy's header claims more than the block holds, or
  // its depth cannot be converted.
  HRESULT unsoundBlock = E_UNEXPECTED;
  // A class that always hands out a picture: without an image when there
  // is no copy, with the untouched copy when its header cannot be trusted
  // (noCopy and unsoundBlock are then not used).
  bool alwaysFinish = false;
  bool waitCursor = true;
  NamePolicy names = NamePolicy::kAlways;
};

// Whether the block h is sound and already in a form the kernel takes: a
// depth of `handled`, and for 24 bits plain BI_RGB rows without a table.
bool TakesAsItIs(int32_t h, dib::DepthSet handled);

// Steps 1 and 3 to 7 for a class that transforms a copy of its source in
// place: `kernel(LockedDib& work)` runs on the locked, validated copy (under
// the wait cursor when the steps ask for it) and returns S_OK, or a failure
// that Apply returns without making a picture. An RLE copy is decoded to
// plain rows first. A picture with alpha, when the kernel does not take
// 32 bits, has the kernel run on its colours alone (a 24-bit copy) and
// keeps its alpha as it was. Every failure clears the thread's error
// information.
template <class Kernel>
HRESULT ApplyToCopy(IVuPicture* source, const CopySteps& steps, IVuPicture** result, Kernel&& kernel) {
  if (!result) return E_POINTER;
  const int32_t handle = ReadSourceHandle(source);
  if (handle == 0 && steps.emptySource) return PlainFailure(*steps.emptySource);
  PictureBlock copy = PictureBlock::CopyOf(handle);
  if (!copy) {
    if (steps.alwaysFinish) return FinishApply(source, PictureBlock(), steps.names, result);
    if (steps.noCopyTrace) DebuggerLine(steps.noCopyTrace);
    return PlainFailure(steps.noCopy);
  }
  if (PictureBlock plain(DecodeRleDib(copy.get())); plain) copy = std::move(plain);
  PictureBlock withAlpha;
  if (!(steps.handled & dib::kDepth32) && DibCarriesAlpha(copy.get())) {
    PictureBlock colours(ConvertDibTo24(copy.get(), dib::AlphaRule::kDrop));
    if (colours) {
      withAlpha = std::move(copy);
      copy = std::move(colours);
    }
  }
  if (!TakesAsItIs(copy.get(), steps.handled)) {
    PictureBlock converted(ConvertDibTo24(copy.get()));
    if (!converted) {
      if (steps.alwaysFinish) return FinishApply(source, std::move(copy), steps.names, result);
      return PlainFailure(steps.unsoundBlock);
    }
    copy = std::move(converted);
  }
  {
    LockedDib work(copy.get(), steps.handled);
    if (!work.ok()) return PlainFailure(steps.unsoundBlock);
    std::optional<WaitCursor> wait;
    if (steps.waitCursor) wait.emplace();
    const HRESULT hr = std::forward<Kernel>(kernel)(work);
    if (FAILED(hr)) return PlainFailure(hr);
  }
  if (withAlpha) {
    if (!PutColoursBack(copy.get(), withAlpha.get())) return PlainFailure(steps.unsoundBlock);
    copy = std::move(withAlpha);
  }
  return FinishApply(source, std::move(copy), steps.names, result);
}

// How the result block is taken from the imaging library.
enum class LibraryBlock {
  kCopied,   // copied with DuplicateDib, the library's block freed at once
  kAsItIs,   // the library's block itself becomes the result
};

// Step 3 for a class whose work the imaging library does: the result block
// made of what the library returned (`produced`) for the source block
// `sourceHandle`; empty for a failure value, or when a copy cannot be made.
// Should the library ever hand back the source block itself, the result
// holds a copy of it and the source keeps its own.
//
// A large block (kCopyBelow bytes or more, what the heap maps on its own)
// is the result as it is even where the class copies: a fresh copy of it
// costs the system finding and clearing as many new pages, several times
// the copy itself, and no block is kept between calls to spare that.
PictureBlock TakeLibraryBlock(int32_t sourceHandle, int32_t produced, LibraryBlock use);
constexpr size_t kCopyBelow = size_t{1} << 20;

// Steps 3 to 7 for a class whose work the imaging library does
// (TakeLibraryBlock, then FinishApply).
HRESULT FinishLibraryApply(IVuPicture* source, int32_t sourceHandle, int32_t produced,
                           LibraryBlock use, NamePolicy names, IVuPicture** result);

// For classes that hold pictures of their own (overlays, masks, frames):
//
// A block handed over by handle, to be held in `field` (PictureBlock::Taken).
// The block held before is replaced: freed when the object made it and
// never lent it out, otherwise left to the caller. A block that another
// live owner of the module already holds (a picture's Handle, say) is
// copied, so that it is never freed twice; any other value is taken over as
// it is. E_OUTOFMEMORY when the copy cannot be made.
HRESULT HoldHandedBlock(PictureBlock& field, int32_t handle);

// A picture file loaded by the imaging library into `field`, the path
// passed in the ANSI code page (a null path as a null pointer). The block
// held before is freed first; the field then keeps what the library
// returned, a failure value included. False for a failure value.
bool LoadIntoField(PictureBlock& field, BSTR path);

// A getter that reports a stored value.
inline HRESULT ReportValue(int32_t stored, LONG* out) {
  if (!out) return E_POINTER;
  *out = stored;
  return S_OK;
}

// A setter that stores its value unchanged.
inline HRESULT StoreValue(int32_t& field, LONG value) {
  field = value;
  return S_OK;
}

// get_PreHnd: writes the handle only when it is a block (which is lent from
// then on); otherwise leaves the caller's variable as it was and traces why.
HRESULT ReportPreHnd(PictureBlock& preHnd, LONG* handle);

template <class Iface, class... Extra>
class Modifier : public ComObject<Iface, Extra...> {
 public:
  using ComObject<Iface, Extra...>::ComObject;

  STDMETHODIMP get_PreHnd(LONG* handle) override { return ReportPreHnd(m_preHnd, handle); }

 protected:
  bool AlsoPrimary(REFIID riid) const override { return riid == __uuidof(IPictureModifier); }

  PictureBlock m_preHnd;
};

}  // namespace qb
