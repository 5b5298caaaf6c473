// Packs a picture file and one further file behind a copy of the player into
// a card, and unpacks cards into their own folder (layout in
// output/portable/card_format.h).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "quillbox.h"
#include "com/com_object.h"

namespace qb {

class ExportToCard final : public ComObject<IExportToCard, SupportErrorInfoFor<IExportToCard>, NoConnectionPoints> {
 public:
  using ComObject::ComObject;

  STDMETHODIMP Prepare() override;
  STDMETHODIMP PackCard(BSTR picPath, BSTR extraPath, BSTR destPath) override;
  STDMETHODIMP UnpackCard(BSTR cardPath) override;

  // Results of PackFiles.
  static constexpr int kPacked = 1;
  // The player cannot be read, the destination's folders or the card
  // beside it cannot be made, or the destination is the player, a folder
  // or a read-only file.
  static constexpr int kCannotMakeCopy = 0;
  static constexpr int kNothingToPack = -2;
  static constexpr int kWriteFailed = -3;
  // A listed file cannot be opened or recorded, or is the destination.
  static constexpr int kCannotPackFile = -4;

  // Builds a card of the player and the files of m_fileList beside
  // destPath and puts it there once it is whole. Nothing is written before
  // every file is open; a failed pack leaves destPath as it was.
  int PackFiles(const std::wstring& playerPath, const std::wstring& destPath);

 protected:
  bool AlsoPrimary(REFIID riid) const override { return riid == __uuidof(IImageOutputService); }

 private:
  std::vector<std::wstring> m_fileList;
  // Length of the player in the last card this object packed: where its
  // container starts. Unset until then; a card is then read by its trailer.
  std::optional<uint32_t> m_playerSize;
};

// The value UnpackCard fails with.
inline constexpr HRESULT kUnpackFailed = static_cast<HRESULT>(0xFFFFFFFD);

}  // namespace qb
