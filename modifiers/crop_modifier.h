// Cuts a rectangle out of a picture: the rows under it copied straight
// into a block of the rectangle's size. The rectangle counts from the
// top-left corner as seen; pixels of it that lie outside the source stay
// zero.
#pragma once

#include "modifiers/modifier.h"
#include "quillbox.h"

namespace qb {

class Crop final : public Modifier<ICrop> {
 public:
  using Modifier::Modifier;

  STDMETHODIMP Apply(IVuPicture* source, IVuPicture** result) override;
  STDMETHODIMP get_RectWidth(LONG* value) override { return ReportValue(m_rectWidth, value); }
  STDMETHODIMP put_RectWidth(LONG value) override { return StoreValue(m_rectWidth, value); }
  STDMETHODIMP get_RectHeight(LONG* value) override { return ReportValue(m_rectHeight, value); }
  STDMETHODIMP put_RectHeight(LONG value) override { return StoreValue(m_rectHeight, value); }
  STDMETHODIMP get_RectLeft(LONG* value) override { return ReportValue(m_rectLeft, value); }
  STDMETHODIMP put_RectLeft(LONG value) override { return StoreValue(m_rectLeft, value); }
  STDMETHODIMP get_RectTop(LONG* value) override { return ReportValue(m_rectTop, value); }
  STDMETHODIMP put_RectTop(LONG value) override { return StoreValue(m_rectTop, value); }
  // Kept in the interface; they do nothing.
  STDMETHODIMP Reserved1(LONG) override { return S_OK; }
  STDMETHODIMP Reserved2(LONG, LONG, LONG, LONG) override { return S_OK; }

 private:
  int32_t m_rectLeft = 0;
  int32_t m_rectTop = 0;
  int32_t m_rectWidth = 0;
  int32_t m_rectHeight = 0;
};

}  // namespace qb
