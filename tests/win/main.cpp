// Entry point of the Windows test program: one STA for the whole run, the
// module state of the statically linked server initialised as DllMain would.
#include <gtest/gtest.h>
#include <windows.h>
#include <objbase.h>

#include "com/module.h"
#include "server/object_map.h"

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  qb::ModuleAttach(GetModuleHandleW(nullptr));
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  int rc = RUN_ALL_TESTS();
  CoUninitialize();
  qb::ReleaseClassFactories();
  qb::ModuleDetach();
  return rc;
}
