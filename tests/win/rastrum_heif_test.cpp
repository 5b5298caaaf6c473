// HEIC and AVIF in the Windows build: Rastrum.dll loading libheif.dll (and
// through it libde265.dll) from its own folder, decoding the files of
// tests/unit/heif to the very blocks Debian's libheif gives natively; and a
// copy of Rastrum.dll in a folder without them, which still reads every
// other format and refuses HEIC and AVIF with kDecoderMissing.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "rastrum/portable/rastrum_errors.h"
#include "rastrum/rastrum.h"
#include "test_blocks.h"
#include "test_support.h"
#include "tests/unit/heif_files.h"

using namespace qbtest;

namespace {

std::string SourceFile(const std::string& name) {
  std::string path = "Z:";
  for (const char* p = QB_SOURCE_DIR; *p; ++p) path += (*p == '/') ? '\\' : *p;
  return path + "\\tests\\unit\\heif\\" + name;
}

// The block's header and pixels, without what GlobalSize rounds up.
std::vector<uint8_t> BlockBytes(int32_t handle) {
  std::vector<uint8_t> b = Bytes(handle);
  if (b.size() >= 40)
    b.resize(std::min<size_t>(b.size(), 40 + reinterpret_cast<const BITMAPINFOHEADER*>(b.data())->biSizeImage));
  return b;
}

}  // namespace

TEST(RastrumHeif, DecodesAsDebiansLibheifDoes) {
  for (const qb::test::HeifFile& f : qb::test::kHeifFiles) {
    SCOPED_TRACE(f.name);
    const int32_t loaded = NimboLoadFile(SourceFile(f.name).c_str());
    ASSERT_GT(loaded, 0);
    const std::vector<uint8_t> block = BlockBytes(loaded);
    const auto* header = reinterpret_cast<const BITMAPINFOHEADER*>(block.data());
    EXPECT_EQ(header->biWidth, f.width);
    EXPECT_EQ(header->biHeight, f.height);
    EXPECT_EQ(header->biBitCount, f.bitCount);
    EXPECT_EQ(qb::test::Fnv1a(block), f.checksum) << std::hex << qb::test::Fnv1a(block);
    FreeBlocks({loaded});
  }
}

// A second Rastrum.dll, loaded by full path from a folder that has no
// libheif.dll: the other formats as before, HEIC and AVIF refused with
// their own failure, then again on a second try (no crash, no stale state).
TEST(RastrumHeif, WithoutLibheifOnlyHeicAndAvifFail) {
  ScratchFolder scratch(L"rastrum-heif-");
  ASSERT_TRUE(CopyFileW(BuildFile(L"Rastrum.dll").c_str(), scratch.Path(L"Rastrum.dll").c_str(), FALSE));
  const HMODULE copy = LoadLibraryExW(scratch.Path(L"Rastrum.dll").c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  ASSERT_NE(copy, nullptr);
  ASSERT_NE(copy, GetModuleHandleW(BuildFile(L"Rastrum.dll").c_str())) << "the copy is a module of its own";
  using LoadFile = int32_t(__stdcall*)(const char*);
  const auto load = reinterpret_cast<LoadFile>(reinterpret_cast<void*>(GetProcAddress(copy, "NimboLoadFile")));
  ASSERT_NE(load, nullptr);

  const int32_t source = PhotoLike(61, 37);
  for (const char* name : {"a.jpg", "b.png", "c.webp", "d.tif"}) {
    SCOPED_TRACE(name);
    ASSERT_GT(NimboSaveAsFile(source, scratch.PathA(name).c_str()), 0);
    const int32_t loaded = load(scratch.PathA(name).c_str());
    EXPECT_GT(loaded, 0);
    if (loaded > 0) FreeBlocks({loaded});
  }
  for (int attempt = 0; attempt < 2; ++attempt) {
    EXPECT_EQ(load(SourceFile("8bit.heic").c_str()), rastrum::kDecoderMissing);
    EXPECT_EQ(load(SourceFile("8bit.avif").c_str()), rastrum::kDecoderMissing);
  }
  FreeBlocks({source});
  FreeLibrary(copy);
}
