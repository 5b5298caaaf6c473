// Writes a line of text onto a picture.
#pragma once

#include "quillbox.h"
#include "modifiers/modifier.h"

namespace qb {

class AddText final : public Modifier<IAddText> {
 public:
  using Modifier::Modifier;

  STDMETHODIMP Apply(IVuPicture* source, IVuPicture** result) override;
  STDMETHODIMP get_Text(BSTR* value) override;
  STDMETHODIMP put_Text(BSTR value) override;
  STDMETHODIMP get_ForeColor(OLE_COLOR* value) override;
  STDMETHODIMP put_ForeColor(OLE_COLOR value) override;
  STDMETHODIMP get_Font(IFontDisp** value) override;
  STDMETHODIMP put_Font(IFontDisp* value) override;
  STDMETHODIMP get_X(LONG* value) override;
  STDMETHODIMP put_X(LONG value) override;
  STDMETHODIMP get_Y(LONG* value) override;
  STDMETHODIMP put_Y(LONG value) override;
  STDMETHODIMP putref_Font(IFontDisp* value) override;
};

}  // namespace qb
