// Packs a picture file and one further file behind a copy of the player into a card, and unpacks cards.
#pragma once

#include "quillbox.h"
#include "com/com_object.h"

namespace qb {

class ExportToCard final : public ComObject<IExportToCard, SupportErrorInfoFor<IExportToCard>, NoConnectionPoints> {
 public:
  using ComObject::ComObject;

  STDMETHODIMP Prepare() override;
  STDMETHODIMP PackCard(BSTR picPath, BSTR extraPath, BSTR destPath) override;
  STDMETHODIMP UnpackCard(BSTR cardPath) override;

 protected:
  bool AlsoPrimary(REFIID riid) const override { return riid == __uuidof(IImageOutputService); }
};

}  // namespace qb
