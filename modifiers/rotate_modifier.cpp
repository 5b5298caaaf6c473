#include "modifiers/rotate_modifier.h"

#include <algorithm>

#include "com/error_report.h"
#include "com/resource.h"
#include "rastrum/rastrum.h"

namespace qb {

// The library's call under the wait cursor; the arrow comes back before a
// message box, so that the box is not answered under the wait cursor.
constexpr LibrarySteps kSteps{.waitCursor = true,
                              .failed = E_FAIL,
                              .needsBlock = true,
                              .failedTrace = L"Rotate Failed ",
                              .failedMessage = IDS_ROTATE_FAILED};

STDMETHODIMP RotateModifier::Apply(IVuPicture* source, IVuPicture** result) {
  if (!result) return E_POINTER;
  const int32_t handle = ReadSourceHandle(source);
  if (handle <= 0) {
    ShowMessage(IDS_ROTATE_NO_IMAGE);
    return PlainFailure(E_FAIL);
  }
  return ApplyThroughLibrary(source, handle, kSteps, result, [&] { return NimboRotate(m_angle, handle); });
}

STDMETHODIMP RotateModifier::get_Angle(LONG* value) {
  if (!value) return E_POINTER;
  *value = m_angle;
  return S_OK;
}

STDMETHODIMP RotateModifier::put_Angle(LONG value) {
  m_angle = std::max<LONG>(value, 0);
  return S_OK;
}

}  // namespace qb
