#include "modifiers/blur_modifier.h"

#include <algorithm>

#include "rastrum/rastrum.h"

namespace qb {

// Level 0 succeeds without a picture. The library's call under the wait
// cursor; its failure gives a picture without an image.
constexpr LibrarySteps kSteps{.waitCursor = true};

STDMETHODIMP BlurModifier::Apply(IVuPicture* source, IVuPicture** result) {
  if (!result) return E_POINTER;
  const int32_t handle = ReadSourceHandle(source);
  if (m_level == 0) return S_OK;
  return ApplyThroughLibrary(source, handle, kSteps, result, [&] { return NimboBlur(m_level, handle); });
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
