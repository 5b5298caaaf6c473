#include "modifiers/red_eye_modifier.h"

#include "modifiers/portable/red_eye.h"

namespace qb {

constexpr CopySteps kSteps{.waitCursor = false};

STDMETHODIMP RedEye::Apply(IVuPicture* source, IVuPicture** result) {
  const PixelRect rect{m_rectLeft, m_rectTop, m_rectWidth, m_rectHeight};
  return ApplyToCopy(source, kSteps, result, [&](LockedDib& work) {
    redeye::RemoveRedEye(work.pixels(), rect);
    return S_OK;
  });
}

}  // namespace qb
