// Writes a line of text onto a picture through the imaging library: a text
// in an OLE font and an OLE colour, placed at (x, y) from the picture's
// top-left. The font is held as the client's font cloned, and as the
// LOGFONTW derived from it, which is what the library draws with.
#pragma once

#include <windows.h>
#include <ocidl.h>
#include <olectl.h>
#include <wrl/client.h>

#include "base/resource_guards.h"
#include "modifiers/modifier.h"
#include "quillbox.h"

namespace qb {

class AddText final : public Modifier<IAddText> {
 public:
  using Modifier::Modifier;

  // Creates the initial font: "MS Sans Serif", 20 points.
  HRESULT FinalConstruct() override;

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
  // get_PreHnd writes nothing: AddText never holds a working block.

 private:
  int32_t m_x = 0;
  int32_t m_y = 0;
  OLE_COLOR m_foreColor = 0x00FFFFFF;  // white; translated at Apply
  LOGFONTW m_logFont = {};
  Microsoft::WRL::ComPtr<IFontDisp> m_font;  // null after put_Font(null)
  UniqueBstr m_text;                         // null until a text is set
};

}  // namespace qb
