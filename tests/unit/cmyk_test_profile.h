// A CMYK print profile made with Little CMS for the tests of CMYK
// decoding: its inks are those of the plain formula, squared, so that each
// colour through it lies well away from the formula's.
#pragma once

#include <cmath>
#include <cstdint>
#include <vector>

#include <lcms2.h>

namespace qb::test {

inline std::vector<uint8_t> SquaredInksProfile() {
  struct Cargo {
    cmsHTRANSFORM toLab;
  } cargo;
  cmsHPROFILE srgb = cmsCreate_sRGBProfile(), lab = cmsCreateLab4Profile(nullptr);
  cargo.toLab = cmsCreateTransform(srgb, TYPE_RGB_DBL, lab, TYPE_Lab_DBL, INTENT_RELATIVE_COLORIMETRIC, 0);
  auto sample = [](const cmsUInt16Number in[], cmsUInt16Number out[], void* data) -> cmsInt32Number {
    double rgb[3];
    const double k = 1 - in[3] / 65535.0;
    for (int i = 0; i < 3; ++i) rgb[i] = std::pow((1 - in[i] / 65535.0) * k, 2);
    cmsCIELab lab;
    cmsDoTransform(static_cast<Cargo*>(data)->toLab, rgb, &lab, 1);
    cmsFloat2LabEncoded(out, &lab);
    return TRUE;
  };
  cmsHPROFILE p = cmsCreateProfilePlaceholder(nullptr);
  cmsSetProfileVersion(p, 4.3);
  cmsSetDeviceClass(p, cmsSigOutputClass);
  cmsSetColorSpace(p, cmsSigCmykData);
  cmsSetPCS(p, cmsSigLabData);
  cmsPipeline* lut = cmsPipelineAlloc(nullptr, 4, 3);
  cmsStage* grid = cmsStageAllocCLut16bit(nullptr, 9, 4, 3, nullptr);
  cmsStageSampleCLut16bit(grid, sample, &cargo, 0);
  // The form version 4 stores: curves (here identities) around the grid.
  cmsPipelineInsertStage(lut, cmsAT_END, cmsStageAllocToneCurves(nullptr, 4, nullptr));
  cmsPipelineInsertStage(lut, cmsAT_END, grid);
  cmsPipelineInsertStage(lut, cmsAT_END, cmsStageAllocToneCurves(nullptr, 3, nullptr));
  cmsWriteTag(p, cmsSigAToB0Tag, lut);
  cmsWriteTag(p, cmsSigMediaWhitePointTag, cmsD50_XYZ());
  cmsUInt32Number bytes = 0;
  cmsSaveProfileToMem(p, nullptr, &bytes);
  std::vector<uint8_t> icc(bytes);
  cmsSaveProfileToMem(p, icc.data(), &bytes);
  cmsPipelineFree(lut);
  cmsCloseProfile(p);
  cmsDeleteTransform(cargo.toLab);
  cmsCloseProfile(srgb);
  cmsCloseProfile(lab);
  return icc;
}


}  // namespace qb::test
