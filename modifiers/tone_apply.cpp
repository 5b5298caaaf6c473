#include "modifiers/tone_apply.h"

#include "rastrum/rastrum.h"
#include "core/packed_dib.h"
#include "modifiers/modifier.h"

namespace qb {
namespace {

// A copy of the block in the form the tone walk takes: 24-bit BI_RGB rows
// without a colour table. 0 when the block is not sound or memory runs out.
int32_t WorkingCopy(int32_t source) {
  int32_t copy = DuplicateDib(source);
  if (copy <= 0) return 0;
  bool direct = false;
  {
    LockedDib check(copy, dib::kAllDepths);
    if (!check.ok()) {
      NimboFreeMemory(copy);
      return 0;
    }
    const dib::DibLayout& l = check.layout();
    direct = l.bitCount == 24 && l.compression == dib::kBiRgb && l.colorTableEntries == 0;
  }
  if (direct) return copy;
  int32_t converted = ConvertDibTo24(copy);
  NimboFreeMemory(copy);
  return converted > 0 ? converted : 0;
}

}  // namespace

HRESULT ApplyTone(IVuPicture* source, ToneKernel kernel, int level, IVuPicture** result) {
  if (!result) return E_POINTER;
  const int32_t handle = ReadSourceHandle(source);
  if (handle == 0) return E_UNEXPECTED;
  const int32_t copy = WorkingCopy(handle);
  if (copy == 0) return E_UNEXPECTED;
  {
    LockedDib work(copy, dib::DepthFlag(24));
    if (!work.ok()) {
      NimboFreeMemory(copy);
      return E_UNEXPECTED;
    }
    WaitCursor wait;
    kernel(work.pixels(), level);
  }
  return FinishApply(source, copy, NamePolicy::kWhenNonEmpty, result);
}

}  // namespace qb
