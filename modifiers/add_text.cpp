#include "modifiers/add_text.h"

#include <mutex>

#include "rastrum/rastrum.h"

namespace qb {

using Microsoft::WRL::ComPtr;

namespace {

// OLE fonts are cloned and realised one at a time in this module: Wine's OLE
// font realises every font through one memory DC it shares between all
// threads without a lock, so pictures of several apartments making fonts
// at once could take each other's font description.
std::mutex& FontLock() {
  static std::mutex lock;
  return lock;
}

}  // namespace

HRESULT AddText::FinalConstruct() {
  FONTDESC initial = {};
  initial.cbSizeofstruct = sizeof(FONTDESC);
  initial.lpstrName = const_cast<LPOLESTR>(L"MS Sans Serif");
  initial.cySize.int64 = 20 * 10000;  // points, in units of 1/10000
  initial.sWeight = 0;
  initial.sCharset = 0;
  ComPtr<IFontDisp> font;
  const HRESULT hr = OleCreateFontIndirect(&initial, IID_IFontDisp, reinterpret_cast<void**>(font.GetAddressOf()));
  if (FAILED(hr)) return hr;
  return put_Font(font.Get());
}

// The text, font, colour and place as the library takes them; the colour is
// the OLE colour's RGB at this moment (a system colour as it is now), or its
// low 24 bits where it does not translate. A library failure gives a
// picture without an image.
STDMETHODIMP AddText::Apply(IVuPicture* source, IVuPicture** result) {
  if (!result) return E_POINTER;
  const int32_t handle = ReadSourceHandle(source);
  COLORREF color = 0;
  if (FAILED(OleTranslateColor(m_foreColor, nullptr, &color))) color = m_foreColor & 0x00FFFFFF;
  AddTextRecord record = {};
  record.text = m_text.get();
  record.font = m_logFont;
  record.color = color;
  record.reserved = 0;
  record.x = m_x;
  record.y = m_y;
  return ApplyThroughLibrary(source, handle, LibrarySteps{}, result, [&] { return NimboAddText(&record, handle); });
}

STDMETHODIMP AddText::get_Text(BSTR* value) {
  if (!value) return E_POINTER;
  *value = nullptr;
  if (!m_text.get()) return S_OK;
  *value = SysAllocStringLen(m_text.get(), SysStringLen(m_text.get()));
  return *value ? S_OK : E_OUTOFMEMORY;
}

// A null text is stored as an empty one.
STDMETHODIMP AddText::put_Text(BSTR value) {
  m_text.reset(SysAllocStringLen(value ? value : L"", value ? SysStringLen(value) : 0));
  return m_text.get() ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP AddText::get_ForeColor(OLE_COLOR* value) {
  if (!value) return E_POINTER;
  *value = m_foreColor;
  return S_OK;
}

STDMETHODIMP AddText::put_ForeColor(OLE_COLOR value) {
  m_foreColor = value;
  return S_OK;
}

namespace {

// A font of this process with the description of `font`: name, size,
// weight, character set, italic, underline and strikethrough.
HRESULT FontLikeThis(IFont* font, ComPtr<IFont>& local) {
  FONTDESC description = {};
  description.cbSizeofstruct = sizeof(FONTDESC);
  BSTR name = nullptr;
  BOOL italic = FALSE, underline = FALSE, strikethrough = FALSE;
  HRESULT hr = font->get_Name(&name);
  if (SUCCEEDED(hr)) hr = font->get_Size(&description.cySize);
  if (SUCCEEDED(hr)) hr = font->get_Weight(&description.sWeight);
  if (SUCCEEDED(hr)) hr = font->get_Charset(&description.sCharset);
  if (SUCCEEDED(hr)) hr = font->get_Italic(&italic);
  if (SUCCEEDED(hr)) hr = font->get_Underline(&underline);
  if (SUCCEEDED(hr)) hr = font->get_Strikethrough(&strikethrough);
  if (SUCCEEDED(hr)) {
    description.lpstrName = name;
    description.fItalic = italic;
    description.fUnderline = underline;
    description.fStrikethrough = strikethrough;
    hr = OleCreateFontIndirect(&description, IID_IFont, reinterpret_cast<void**>(local.ReleaseAndGetAddressOf()));
  }
  SysFreeString(name);
  return hr;
}

}  // namespace

// A reference to the font held (null after put_Font(null)).
STDMETHODIMP AddText::get_Font(IFontDisp** value) {
  if (!value) return E_POINTER;
  *value = m_font.Get();
  if (*value) (*value)->AddRef();
  return S_OK;
}

// Holds a clone of the client's font, and the LOGFONTW of the client's own
// font as GDI describes it. A null font, or one without IFont, leaves the
// LOGFONTW as it was: the last font given is still the one drawn with. A
// font that lives in another process (the client of a surrogate) has a
// handle that means nothing here: a font of this process with its
// description stands in for it.
STDMETHODIMP AddText::put_Font(IFontDisp* value) {
  m_font.Reset();
  if (!value) return S_OK;
  ComPtr<IFont> font;
  if (FAILED(value->QueryInterface(IID_IFont, reinterpret_cast<void**>(font.GetAddressOf())))) return S_OK;
  if (ComPtr<IClientSecurity> proxy; SUCCEEDED(font.As(&proxy))) {
    ComPtr<IFont> local;
    if (FAILED(FontLikeThis(font.Get(), local))) return S_OK;
    font = local;
  }
  // Held over the clone and the realisation only: a call to a font of
  // another process above may let calls into this apartment run meanwhile.
  std::lock_guard<std::mutex> hold(FontLock());
  ComPtr<IFont> clone;
  if (SUCCEEDED(font->Clone(clone.GetAddressOf())) && clone)
    clone.As(&m_font);  // stays null when the clone has no IFontDisp
  HFONT handle = nullptr;
  if (SUCCEEDED(font->get_hFont(&handle))) {
    LOGFONTW derived = {};
    font->AddRefHfont(handle);
    if (handle && GetObjectW(handle, sizeof(LOGFONTW), &derived) != 0) m_logFont = derived;
    font->ReleaseHfont(handle);
  }
  return S_OK;
}

STDMETHODIMP AddText::putref_Font(IFontDisp* value) { return put_Font(value); }

STDMETHODIMP AddText::get_X(LONG* value) {
  if (!value) return E_POINTER;
  *value = m_x;
  return S_OK;
}

STDMETHODIMP AddText::put_X(LONG value) {
  m_x = value;
  return S_OK;
}

STDMETHODIMP AddText::get_Y(LONG* value) {
  if (!value) return E_POINTER;
  *value = m_y;
  return S_OK;
}

STDMETHODIMP AddText::put_Y(LONG value) {
  m_y = value;
  return S_OK;
}

}  // namespace qb
