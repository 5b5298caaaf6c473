// Takes the red out of a rectangle of a picture: inside it every pixel's
// red becomes its green. The rectangle counts from the top-left corner as
// seen and is clipped to the picture.
#pragma once

#include "modifiers/modifier.h"
#include "quillbox.h"

namespace qb {

class RedEye final : public Modifier<IRedEye> {
 public:
  using Modifier::Modifier;

  STDMETHODIMP Apply(IVuPicture* source, IVuPicture** result) override;
  STDMETHODIMP get_RectLeft(LONG* value) override { return ReportValue(m_rectLeft, value); }
  STDMETHODIMP put_RectLeft(LONG value) override { return StoreValue(m_rectLeft, value); }
  STDMETHODIMP get_RectTop(LONG* value) override { return ReportValue(m_rectTop, value); }
  STDMETHODIMP put_RectTop(LONG value) override { return StoreValue(m_rectTop, value); }
  STDMETHODIMP get_RectWidth(LONG* value) override { return ReportValue(m_rectWidth, value); }
  STDMETHODIMP put_RectWidth(LONG value) override { return StoreValue(m_rectWidth, value); }
  STDMETHODIMP get_RectHeight(LONG* value) override { return ReportValue(m_rectHeight, value); }
  STDMETHODIMP put_RectHeight(LONG value) override { return StoreValue(m_rectHeight, value); }
  // Stored and reported; nothing else reads it.
  STDMETHODIMP get_Extra(LONG* value) override { return ReportValue(m_extra, value); }
  STDMETHODIMP put_Extra(LONG value) override { return StoreValue(m_extra, value); }

 private:
  int32_t m_rectLeft = 0;
  int32_t m_rectTop = 0;
  int32_t m_rectWidth = 0;
  int32_t m_rectHeight = 0;
  int32_t m_extra = 0;
};

}  // namespace qb
