#include "modifiers/rotate_modifier.h"

#include <algorithm>

#include "com/error_report.h"
#include "com/resource.h"
#include "rastrum/rastrum.h"

namespace qb {

// The result holds a copy of the library's block, which is freed (a large
// block is the result itself).
// The arrow cursor comes back before a message box, so that the box is not
// answered under the wait cursor.
STDMETHODIMP RotateModifier::Apply(IVuPicture* source, IVuPicture** result) {
  if (!result) return E_POINTER;
  const int32_t handle = ReadSourceHandle(source);
  if (handle <= 0) {
    ShowMessage(IDS_ROTATE_NO_IMAGE);
    return PlainFailure(E_FAIL);
  }
  WaitCursor wait;
  PictureBlock rotated =
      TakeLibraryBlock(handle, NimboRotate(m_angle, handle), LibraryBlock::kCopied);
  wait.Finish();
  if (!rotated) {
    DebuggerLine(L"Rotate Failed ");
    ShowMessage(IDS_ROTATE_FAILED);
    return PlainFailure(E_FAIL);
  }
  return FinishApply(source, std::move(rotated), NamePolicy::kAlways, result);
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
