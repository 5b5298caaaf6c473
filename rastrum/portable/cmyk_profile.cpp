#include "rastrum/portable/cmyk_profile.h"

#include <lcms2.h>

namespace rastrum {

namespace {

// Little CMS reports through a global log; a library has no console.
void Quiet(cmsContext, cmsUInt32Number, const char*) {}

}  // namespace

CmykTransform OpenCmykTransform(std::span<const uint8_t> icc, bool inverted) {
  if (icc.empty() || icc.size() > 0x7FFFFFFF) return nullptr;
  static const bool quiet = (cmsSetLogErrorHandler(Quiet), true);
  (void)quiet;
  cmsHPROFILE source = cmsOpenProfileFromMem(icc.data(), static_cast<cmsUInt32Number>(icc.size()));
  if (!source) return nullptr;
  cmsHTRANSFORM transform = nullptr;
  if (cmsGetColorSpace(source) == cmsSigCmykData) {
    if (cmsHPROFILE srgb = cmsCreate_sRGBProfile()) {
      // Perceptual, as print profiles intend their inks to be seen; the
      // profile's own default when it has no perceptual table.
      transform = cmsCreateTransform(source, inverted ? TYPE_CMYK_8_REV : TYPE_CMYK_8, srgb, TYPE_BGR_8,
                                     INTENT_PERCEPTUAL, 0);
      cmsCloseProfile(srgb);
    }
  }
  cmsCloseProfile(source);
  return transform;
}

extern const unsigned char kPressCmykIcc[];
extern const std::size_t kPressCmykIccSize;

std::span<const uint8_t> PressProfile() { return {kPressCmykIcc, kPressCmykIccSize}; }

CmykTransform OpenPressTransform(bool inverted) { return OpenCmykTransform(PressProfile(), inverted); }

void CloseCmykTransform(CmykTransform transform) {
  if (transform) cmsDeleteTransform(static_cast<cmsHTRANSFORM>(transform));
}

void CmykRowThroughProfile(CmykTransform transform, const uint8_t* cmyk, uint8_t* bgr, uint32_t width) {
  cmsDoTransform(static_cast<cmsHTRANSFORM>(transform), cmyk, bgr, width);
}

}  // namespace rastrum
