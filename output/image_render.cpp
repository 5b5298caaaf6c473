#include "output/image_render.h"

#include "com/error_report.h"

namespace qb {

STDMETHODIMP ImageRender::DrawHandle(LONG, LONG, LONG, LONG, LONG, LONG, LONG, LONG, LONG, LONG) { return NotAvailable(CLSID_ImageRender, IID_IImageRender); }

STDMETHODIMP ImageRender::DrawPicture(IVuPicture*, LONG, LONG, LONG, LONG, LONG, LONG, LONG, LONG, LONG) { return NotAvailable(CLSID_ImageRender, IID_IImageRender); }

STDMETHODIMP ImageRender::get_Reserved(LONG*) { return NotAvailable(CLSID_ImageRender, IID_IImageRender); }

}  // namespace qb
