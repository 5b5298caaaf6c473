#include "output/export_to_card.h"

#include "com/error_report.h"

namespace qb {

// Preparing an output service has nothing to do.
STDMETHODIMP ExportToCard::Prepare() { return S_OK; }

STDMETHODIMP ExportToCard::PackCard(BSTR, BSTR, BSTR) { return NotAvailable(CLSID_ExportToCard, IID_IExportToCard); }

STDMETHODIMP ExportToCard::UnpackCard(BSTR) { return NotAvailable(CLSID_ExportToCard, IID_IExportToCard); }

}  // namespace qb
