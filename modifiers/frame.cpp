#include "modifiers/frame.h"

#include <cstdlib>

#include "com/error_report.h"
#include "rastrum/rastrum.h"

namespace qb {

// A picture smaller than 4 x 4 is left as it is, without a picture made
// (S_FALSE); a source without an image, a frame whose load failed and a
// library failure are E_UNEXPECTED. A top-down picture (negative height)
// counts by its size.
constexpr LibrarySteps kSteps{.failed = E_UNEXPECTED};

STDMETHODIMP Frame::Apply(IVuPicture* source, IVuPicture** result) {
  if (!result) return E_POINTER;
  const int32_t handle = ReadSourceHandle(source);
  LONG width = 0, height = 0;
  if (source) {
    source->get_Width(&width);
    source->get_Height(&height);
  }
  if (std::labs(width) < 4 || std::labs(height) < 4) return S_FALSE;
  if (handle == 0 || m_frame1.get() < 0 || m_frame2.get() < 0) return PlainFailure(E_UNEXPECTED);
  return ApplyThroughLibrary(source, handle, kSteps, result,
                             [&] { return NimboAddFrame(handle, m_frame1.get(), m_frame2.get(), 0); });
}

STDMETHODIMP Frame::get_FrameHandle(LONG* value) {
  if (!value) return E_POINTER;
  *value = m_frame1.lend();
  return S_OK;
}

STDMETHODIMP Frame::put_FrameHandle(LONG value) { return HoldHandedBlock(m_frame1, value); }

STDMETHODIMP Frame::get_FrameHandle2(LONG* value) {
  if (!value) return E_POINTER;
  *value = m_frame2.lend();
  return S_OK;
}

STDMETHODIMP Frame::put_FrameHandle2(LONG value) { return HoldHandedBlock(m_frame2, value); }

// The first loader's failure is also told to the debugger.
STDMETHODIMP Frame::LoadFrameFile(BSTR path) {
  if (LoadIntoField(m_frame1, path)) return S_OK;
  DebuggerLine(L"load pic failed");
  return PlainFailure(E_FAIL);
}

STDMETHODIMP Frame::LoadFrameFile2(BSTR path) {
  return LoadIntoField(m_frame2, path) ? S_OK : PlainFailure(E_FAIL);
}

}  // namespace qb
