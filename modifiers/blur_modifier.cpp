#include "modifiers/blur_modifier.h"

#include <algorithm>

#include "rastrum/rastrum.h"

namespace qb {

// Level 0 succeeds without a picture. A library failure gives a picture
// without an image; otherwise the result holds a copy of the library's
// block, which is freed (a large block is the result itself).
STDMETHODIMP BlurModifier::Apply(IVuPicture* source, IVuPicture** result) {
  if (!result) return E_POINTER;
  const int32_t handle = ReadSourceHandle(source);
  if (m_level == 0) return S_OK;
  int32_t blurred;
  {
    WaitCursor wait;
    blurred = std::max(NimboBlur(m_level, handle), 0);
  }
  return FinishLibraryApply(source, handle, blurred, LibraryBlock::kCopied, NamePolicy::kAlways, result);
}

STDMETHODIMP BlurModifier::get_Level(LONG* value) {
  if (!value) return E_POINTER;
  *value = m_level;
  return S_OK;
}

STDMETHODIMP BlurModifier::put_Level(LONG value) {
  m_level = std::clamp<LONG>(value, 0, 99);
  return S_OK;
}

}  // namespace qb
