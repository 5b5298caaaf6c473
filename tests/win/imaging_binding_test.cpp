// The binding to the imaging library: every function is imported from
// Rastrum.dll by its undecorated name, with the declared calling convention
// (a mismatch would corrupt the stack on return), and the memory functions
// do their work on blocks the module allocates itself.
#include <gtest/gtest.h>

#include <set>

#include "rastrum/rastrum.h"
#include "test_support.h"

using namespace qbtest;

TEST(ImagingBinding, AllFunctionsImportedByName) {
  // Take each function's address so the program imports all of them.
  const void* functions[] = {
      reinterpret_cast<const void*>(&NimboLoadFile),   reinterpret_cast<const void*>(&NimboSaveAsFile),
      reinterpret_cast<const void*>(&NimboFreeMemory), reinterpret_cast<const void*>(&NimboResize),
      reinterpret_cast<const void*>(&NimboRotate),     reinterpret_cast<const void*>(&NimboBlur),
      reinterpret_cast<const void*>(&NimboAddText),    reinterpret_cast<const void*>(&NimboAddFrame),
      reinterpret_cast<const void*>(&NimboAddPic),     reinterpret_cast<const void*>(&NimboTrueClr2Gray),
      reinterpret_cast<const void*>(&NimboLoadMemory), reinterpret_cast<const void*>(&NimboSaveAsMemory)};
  for (const void* f : functions) ASSERT_NE(nullptr, f);

  PeDirectories pe = ReadPeDirectories(GetModuleHandleW(nullptr));
  auto it = pe.imports.find("Rastrum.dll");
  ASSERT_NE(pe.imports.end(), it);
  std::set<std::string> names(it->second.begin(), it->second.end());
  const std::set<std::string> expected = {
      "NimboLoadFile", "NimboSaveAsFile", "NimboFreeMemory", "NimboResize",  "NimboRotate",
      "NimboBlur",     "NimboAddText",    "NimboAddFrame",   "NimboAddPic", "NimboTrueClr2Gray",
      "NimboLoadMemory", "NimboSaveAsMemory",
      // the worker pool, which this program's kernels share with the library
      "NimboForEachRange", "NimboThreadCount", "NimboSetThreadCount", "NimboEndWorkers",
      // and the kept picture block, shared the same way
      "NimboNewBlock", "NimboFreeBlock", "NimboForgetBlock", "NimboGiveBackBlock"};
  EXPECT_EQ(expected, names);

  HMODULE library = GetModuleHandleW(L"Rastrum.dll");
  ASSERT_NE(nullptr, library);
  for (const std::string& name : expected)
    EXPECT_NE(nullptr, reinterpret_cast<void*>(GetProcAddress(library, name.c_str()))) << name;
}

TEST(ImagingBinding, FreeMemoryReleasesModuleBlocksAndIgnoresNonBlocks) {
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, 64);
  ASSERT_NE(nullptr, block);
  NimboFreeMemory(static_cast<int32_t>(reinterpret_cast<intptr_t>(block)));
  EXPECT_EQ(0u, GlobalSize(block)) << "the block was freed";
  // A zero handle and a failure value left in a field are passed too.
  NimboFreeMemory(0);
  NimboFreeMemory(-4);
}

TEST(ImagingBinding, FailuresAreNegativeAndArgumentsArriveInOrder) {
  EXPECT_LT(NimboLoadFile(nullptr), 0);
  EXPECT_LT(NimboLoadMemory(nullptr, 4), 0);
  EXPECT_LT(NimboSaveAsMemory(0, "x.bmp", 90), 0);
  EXPECT_LT(NimboSaveAsFile(0, "x.bmp"), 0);
  EXPECT_LT(NimboResize(10, 10, 0, 0), 0);
  EXPECT_LT(NimboRotate(90, -1), 0);
  EXPECT_LT(NimboBlur(5, 0), 0);
  AddTextRecord record = {};
  EXPECT_LT(NimboAddText(&record, 0), 0);
  EXPECT_LT(NimboAddFrame(0, 0, 0, 0), 0);
  EXPECT_LT(NimboAddPic(0, 0, 0, 0, 0), 0);
  EXPECT_EQ(0, NimboTrueClr2Gray(0)) << "nothing to overlay";
  EXPECT_LT(NimboTrueClr2Gray(-3), 0);
}
