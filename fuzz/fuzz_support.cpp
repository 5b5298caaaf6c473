#include "base/portable/dib_format.h"
#include "fuzz/fuzz_target.h"
#include "rastrum/portable/codecs.h"

namespace qb::fuzz {

void CheckResult(int rc, const BoundedAllocator& out) {
  QB_FUZZ_CHECK(rc <= rastrum::kOk && rc >= rastrum::kDecoderMissing);
  if (rc != rastrum::kOk) return;
  dib::DibLayout layout;
  QB_FUZZ_CHECK(dib::Validate(out.block, dib::kAllDepths, layout) == dib::DibStatus::kOk);
}

int DecodeRow(rastrum::FileFormat format, const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> file(data, size);
  rastrum::DetectFormat(file);
  const rastrum::Codec* row = rastrum::CodecOf(format);
  QB_FUZZ_CHECK(row != nullptr);
  BoundedAllocator out;
  const int rc = row->decode(file, out);
  CheckResult(rc, out);
  // Saving is tried on small pictures only, which keeps the run fast.
  if (rc != rastrum::kOk || out.block.size() > (std::size_t{1} << 20)) return 0;
  dib::DibLayout decoded;
  QB_FUZZ_CHECK(dib::Validate(out.block, dib::kAllDepths, decoded) == dib::DibStatus::kOk);
  for (const rastrum::Codec& codec : rastrum::Codecs()) {
    if (!codec.encode) continue;
    std::vector<std::uint8_t> saved;
    const int written = rastrum::EncodeImage(out.block, codec.format, 90, saved);
    QB_FUZZ_CHECK(written <= rastrum::kOk && written >= rastrum::kDecoderMissing);
    if (written != rastrum::kOk) continue;
    BoundedAllocator again;
    const int read = rastrum::DecodeImage(saved, again);
    CheckResult(read, again);
    QB_FUZZ_CHECK(read == rastrum::kOk);
    dib::DibLayout back;
    QB_FUZZ_CHECK(dib::Validate(again.block, dib::kAllDepths, back) == dib::DibStatus::kOk);
    QB_FUZZ_CHECK(back.width == decoded.width && back.height == decoded.height);
  }
  return 0;
}

}  // namespace qb::fuzz
