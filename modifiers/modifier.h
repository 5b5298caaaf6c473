// What every modifier class shares: one dual interface that extends
// IPictureModifier (answered with the same pointer, so a client can apply
// any modifier without knowing its class), the working handle m_preHnd,
// and the steps of Apply that are the same for all of them:
//
//   1. read the source's handle (ReadSourceHandle);
//   2. the class's own checks;
//   3. the result block: a copy transformed in place, or the imaging
//      library's work;
//   4-7. a new picture that takes the block, the file name passed on, the
//      picture handed out with one reference (FinishApply).
#pragma once

#include <windows.h>

#include <cstdint>

#include "quillbox.h"
#include "com/com_object.h"

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
HRESULT FinishApply(IVuPicture* source, int32_t block, NamePolicy names, IVuPicture** result);

// get_PreHnd: writes the handle only when it is a block; otherwise leaves
// the caller's variable as it was and traces why.
HRESULT ReportPreHnd(int32_t preHnd, LONG* handle);

// The wait cursor for a long pixel operation. Finish (or the end of the
// scope) sets the arrow; the cursor shown before is not restored.
class WaitCursor {
 public:
  WaitCursor() { SetCursor(LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_WAIT))); }
  ~WaitCursor() { Finish(); }
  WaitCursor(const WaitCursor&) = delete;
  WaitCursor& operator=(const WaitCursor&) = delete;
  void Finish() {
    if (done_) return;
    done_ = true;
    SetCursor(LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW)));
  }

 private:
  bool done_ = false;
};

template <class Iface, class... Extra>
class Modifier : public ComObject<Iface, Extra...> {
 public:
  using ComObject<Iface, Extra...>::ComObject;

  STDMETHODIMP get_PreHnd(LONG* handle) override { return ReportPreHnd(m_preHnd, handle); }

 protected:
  bool AlsoPrimary(REFIID riid) const override { return riid == __uuidof(IPictureModifier); }

  int32_t m_preHnd = 0;
};

}  // namespace qb
