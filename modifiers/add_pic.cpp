#include "modifiers/add_pic.h"

#include "com/error_report.h"
#include "com/resource.h"
#include "rastrum/rastrum.h"

namespace qb {

namespace {

// A load that failed is told to the debugger and to the user; the failure
// value stays in the field.
HRESULT Loaded(bool loaded) {
  if (loaded) return S_OK;
  DebuggerLine(L"load pic failed");
  ShowMessage(IDS_LOAD_PIC_FAILED);
  return S_FALSE;
}

}  // namespace

// Without a mask, or with one that cannot be turned grey, there is nothing
// to blend by, unless the overlay has alpha of its own: it is then laid by
// its alpha. A mask with alpha blends by its alpha. A source without an
// image gives a picture without one; a library failure gives none.
constexpr LibrarySteps kSteps{.arrowAfter = true, .failed = E_FAIL};

STDMETHODIMP AddPic::Apply(IVuPicture* source, IVuPicture** result) {
  if (!result) return E_POINTER;
  const int32_t handle = ReadSourceHandle(source);
  const bool ownAlpha = m_mask.get() == 0 && DibCarriesAlpha(m_overlay.get());
  if (m_mask.get() == 0 && !ownAlpha) return PlainFailure(E_OUTOFMEMORY);
  const int32_t grey = ownAlpha ? 1 : NimboTrueClr2Gray(m_mask.get());
  if (grey < 0) return PlainFailure(E_OUTOFMEMORY);
  return ApplyThroughLibrary(source, handle, kSteps, result, [&] {
    return handle != 0 && grey != 0 ? NimboAddPic(m_x, m_y, handle, m_overlay.get(), m_mask.get()) : 0;
  });
}

STDMETHODIMP AddPic::get_X(LONG* value) {
  if (!value) return E_POINTER;
  *value = m_x;
  return S_OK;
}

STDMETHODIMP AddPic::put_X(LONG value) {
  m_x = value;
  return S_OK;
}

STDMETHODIMP AddPic::get_MaskHandle(LONG* value) {
  if (!value) return E_POINTER;
  *value = m_mask.lend();
  return S_OK;
}

STDMETHODIMP AddPic::put_MaskHandle(LONG value) { return HoldHandedBlock(m_mask, value); }

STDMETHODIMP AddPic::get_Y(LONG* value) {
  if (!value) return E_POINTER;
  *value = m_y;
  return S_OK;
}

STDMETHODIMP AddPic::put_Y(LONG value) {
  m_y = value;
  return S_OK;
}

STDMETHODIMP AddPic::get_PicHandle(LONG* value) {
  if (!value) return E_POINTER;
  *value = m_overlay.lend();
  return S_OK;
}

STDMETHODIMP AddPic::put_PicHandle(LONG value) { return HoldHandedBlock(m_overlay, value); }

STDMETHODIMP AddPic::LoadPicFile(BSTR path) { return Loaded(LoadIntoField(m_overlay, path)); }

STDMETHODIMP AddPic::LoadMaskFile(BSTR path) { return Loaded(LoadIntoField(m_mask, path)); }

}  // namespace qb
