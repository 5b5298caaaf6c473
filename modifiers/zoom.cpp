#include "modifiers/zoom.h"

#include <algorithm>

#include "com/error_report.h"
#include "rastrum/rastrum.h"

namespace qb {

namespace {

constexpr int32_t kSmallestSide = 5;
constexpr int32_t kLargestSide = 10000;

// "尺寸太大，无法处理！" ("The size is too large to process!") as code page 936
// bytes, widened from that code page when it is raised, so that it reads as
// the same Chinese whatever the system's ANSI code page.
constexpr char kSizeTooLarge[] =
    "\xB3\xDF\xB4\xE7\xCC\xAB\xB4\xF3\xA3\xAC\xCE\xDE\xB7\xA8\xB4\xA6\xC0\xED\xA3\xA1";
constexpr UINT kSizeTooLargeCodePage = 936;

HRESULT ReportSizeTooLarge() {
  wchar_t text[32] = {};
  MultiByteToWideChar(kSizeTooLargeCodePage, 0, kSizeTooLarge, -1, text, 32);
  return ReportError(CLSID_Zoom, text, IID_IZoom);
}

// A library failure gives no picture.
constexpr LibrarySteps kSteps{.failed = E_FAIL};

}  // namespace

STDMETHODIMP Zoom::Apply(IVuPicture* source, IVuPicture** result) {
  if (!result) return E_POINTER;
  const int32_t handle = ReadSourceHandle(source);
  if (handle < 0) return PlainFailure(E_FAIL);
  m_width = std::max(m_width, kSmallestSide);
  m_height = std::max(m_height, kSmallestSide);
  if (m_width > kLargestSide || m_height > kLargestSide)
    return ReportSizeTooLarge();
  return ApplyThroughLibrary(source, handle, kSteps, result,
                             [&] { return NimboResize(m_width, m_height, handle, 0); });
}

// Reserved: nothing stored, nothing reported.
STDMETHODIMP Zoom::get_Reserved(LONG*) { return S_OK; }

STDMETHODIMP Zoom::put_Reserved(LONG) { return S_OK; }

STDMETHODIMP Zoom::get_Height(LONG* value) {
  if (!value) return E_POINTER;
  *value = m_height;
  return S_OK;
}

STDMETHODIMP Zoom::put_Height(LONG value) {
  m_height = value;
  return S_OK;
}

STDMETHODIMP Zoom::get_Width(LONG* value) {
  if (!value) return E_POINTER;
  *value = m_width;
  return S_OK;
}

STDMETHODIMP Zoom::put_Width(LONG value) {
  m_width = value;
  return S_OK;
}

}  // namespace qb
