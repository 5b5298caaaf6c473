// What every modifier class shares: one dual interface that extends
// IPictureModifier (answered with the same pointer, so a client can apply
// any modifier without knowing its class), the working handle m_preHnd,
// and the steps of Apply that are the same for all of them:
//
//   1. read the source's handle (ReadSourceHandle);
//   2. the class's own checks;
//   3. the result block, made in one of three ways:
//      - ApplyToCopy: a copy of the source transformed in place by the
//        class's kernel;
//      - ApplyToRows: the same for a kernel that changes each row on its
//        own, run on bands of rows as they are copied, while they are
//        still in the processor's cache;
//      - ApplyThroughLibrary: the block the imaging library made, handed
//        on as it is;
//   4-7. a new picture that adopts the block, the file name passed on, the
//      picture handed out with one reference (FinishApply).
//
// A class is then its parameters, its checks and its kernel.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <utility>

#include "base/portable/dib_format.h"
#include "base/resource_guards.h"
#include "com/com_object.h"
#include "com/error_report.h"
#include "core/block_recycler.h"
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

// Steps 4 to 7: creates the result picture, which adopts `block` (it owns
// it from then on, with the size and depth of its header, as AttachImage
// would give them), passes the source's file name on and stores the
// picture in *result with one reference. E_FAIL when no picture can be
// made; the block is then freed and *result left as it was.
//
// With `size`, the picture takes the given height and width instead (as
// put_Handle and the size setters would give them), and, when there is a
// block, the given bit count.
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
// information. ApplyToCopy reads the source's handle itself; ApplyToCopyOf
// takes one already read.
template <class Kernel>
HRESULT ApplyToCopyOf(IVuPicture* source, int32_t handle, const CopySteps& steps, IVuPicture** result,
                      Kernel&& kernel) {
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

template <class Kernel>
HRESULT ApplyToCopy(IVuPicture* source, const CopySteps& steps, IVuPicture** result, Kernel&& kernel) {
  if (!result) return E_POINTER;
  return ApplyToCopyOf(source, ReadSourceHandle(source), steps, result, std::forward<Kernel>(kernel));
}

// A copy of the sound plain 24-bit block h (TakesAsItIs) made band by band
// of rows: each band copied, then `kernel` run on it, so that the rows are
// read from memory once. Every byte of the block is the source's, the
// kernel's bands aside. Empty when h is no such block or no block can be
// made.
PictureBlock CopyInBands(int32_t h, bool waitCursor, const std::function<void(dib::ImageView)>& kernel);

// ApplyToCopy for a kernel that changes each row on its own and nothing
// else (a tone curve): `kernel(dib::ImageView rows)` runs on bands of rows
// of the copy as they are copied. Results, failures and messages are
// ApplyToCopy's; a source that needs more than a copy (another depth, an
// RLE stream, alpha) takes ApplyToCopy's road.
template <class RowKernel>
HRESULT ApplyToRows(IVuPicture* source, const CopySteps& steps, IVuPicture** result, RowKernel&& kernel) {
  if (!result) return E_POINTER;
  const int32_t handle = ReadSourceHandle(source);
  if (steps.handled == dib::kDepth24) {
    if (PictureBlock made = CopyInBands(handle, steps.waitCursor, kernel); made)
      return FinishApply(source, std::move(made), steps.names, result);
  }
  return ApplyToCopyOf(source, handle, steps, result, [&](LockedDib& work) {
    kernel(work.pixels());
    return S_OK;
  });
}

// Step 3 for a class whose work the imaging library does: the result block
// made of what the library returned (`produced`) for the source block
// `sourceHandle`, handed on as it is; empty for a failure value. Should the
// library ever hand back the source block itself, the result holds a copy
// of it and the source keeps its own.
PictureBlock TakeLibraryBlock(int32_t sourceHandle, int32_t produced);

// How a class whose work the imaging library does runs the shared steps.
struct LibrarySteps {
  // The library's call under the wait cursor.
  bool waitCursor = false;
  // The arrow cursor set once the library has made the result.
  bool arrowAfter = false;
  // The result when the library returns a failure value (or, with
  // needsBlock, no block at all): no picture is made. Without it, such a
  // call gives a picture without an image.
  std::optional<HRESULT> failed;
  bool needsBlock = false;
  // The debugger line and the message box (a string of the table) of such
  // a failure, sent after the wait cursor has gone.
  const wchar_t* failedTrace = nullptr;
  UINT failedMessage = 0;
  NamePolicy names = NamePolicy::kAlways;
};

// Steps 3 to 7 for a class whose work the imaging library does: `call()`
// returns the library's block (or failure value) made for `sourceHandle`,
// which the class has read and checked. Every failure clears the thread's
// error information.
HRESULT FinishThroughLibrary(IVuPicture* source, int32_t sourceHandle, int32_t produced,
                             const LibrarySteps& steps, IVuPicture** result);

template <class Call>
HRESULT ApplyThroughLibrary(IVuPicture* source, int32_t sourceHandle, const LibrarySteps& steps,
                            IVuPicture** result, Call&& call) {
  if (!result) return E_POINTER;
  std::optional<WaitCursor> wait;
  if (steps.waitCursor) wait.emplace();
  const int32_t produced = std::forward<Call>(call)();
  wait.reset();
  return FinishThroughLibrary(source, sourceHandle, produced, steps, result);
}

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
