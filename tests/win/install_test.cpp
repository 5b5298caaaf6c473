// The install scripts as a Windows user runs them, and what the server's
// dispatch does while the type library is not registered.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "server/plain_classes.h"
#include "test_support.h"

using namespace qbtest;

namespace {

// Runs a command line through cmd in the build directory; its exit code.
DWORD RunCmd(const std::wstring& script, const std::wstring& directory) {
  std::wstring line = L"cmd /c \"" + script + L"\"";
  STARTUPINFOW si = {};
  si.cb = sizeof(si);
  PROCESS_INFORMATION pi = {};
  if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, directory.c_str(),
                      &si, &pi))
    return 0xFFFFFFFF;
  WaitForSingleObject(pi.hProcess, 120000);
  DWORD code = 0xFFFFFFFF;
  GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return code;
}

std::wstring BuildDirectory() {
  std::wstring dir = BuildFile(L"");
  dir.pop_back();
  return dir;
}

bool TypeLibraryRegistered() {
  ITypeLib* library = nullptr;
  if (FAILED(LoadRegTypeLib(LIBID_QuillboxLib, 1, 0, 0, &library))) return false;
  library->Release();
  return true;
}

// Puts the registration back as the harness made it, whatever a test did.
struct Reinstall {
  ~Reinstall() { RunCmd(BuildFile(L"install.cmd"), BuildDirectory()); }
};

}  // namespace

TEST(InstallScripts, UninstallRemovesServerAndTypeLibraryAndInstallRestoresThem) {
  Reinstall guard;
  const std::wstring clsidKey = L"CLSID\\" + GuidString(CLSID_Bright);
  ASSERT_TRUE(KeyExists(HKEY_CLASSES_ROOT, L"Quillbox.Bright.1"));
  ASSERT_TRUE(TypeLibraryRegistered());

  EXPECT_EQ(0u, RunCmd(BuildFile(L"uninstall.cmd"), BuildDirectory()));
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, L"Quillbox.Bright.1"));
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, clsidKey));
  EXPECT_FALSE(TypeLibraryRegistered());

  EXPECT_EQ(0u, RunCmd(BuildFile(L"install.cmd"), BuildDirectory()));
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, L"Quillbox.Bright.1"));
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, clsidKey));
  EXPECT_TRUE(TypeLibraryRegistered());
}

// A folder that lacks one of the files the script needs: it refuses, and
// names the file.
TEST(InstallScripts, InstallNamesTheFileThatIsMissing) {
  wchar_t temp[MAX_PATH];
  ASSERT_NE(0u, GetTempPathW(MAX_PATH, temp));
  const std::wstring dir = std::wstring(temp) + L"quillbox-install-test";
  CreateDirectoryW(dir.c_str(), nullptr);
  const std::wstring output = dir + L"\\said.txt";
  const wchar_t* files[] = {L"install.cmd", L"Quillbox.dll", L"Quillbox.tlb", L"Rastrum.dll", L"regtlb.exe"};
  // Each round copies one file more; the first absent one must be named.
  const char* expected[] = {"Quillbox.dll is missing", "Quillbox.tlb is missing", "Rastrum.dll is missing",
                            "regtlb.exe is missing", "QuillboxHost.exe is missing"};
  for (int present = 1; present <= 5; ++present) {
    const std::wstring name = files[present - 1];
    ASSERT_TRUE(CopyFileW(BuildFile(name.c_str()).c_str(), (dir + L"\\" + name).c_str(), FALSE));
    EXPECT_EQ(2u, RunCmd(L"install.cmd > said.txt", dir));
    HANDLE f = CreateFileW(output.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    char said[512] = {};
    DWORD n = 0;
    if (f != INVALID_HANDLE_VALUE) {
      ReadFile(f, said, sizeof(said) - 1, &n, nullptr);
      CloseHandle(f);
    }
    EXPECT_NE(nullptr, std::strstr(said, expected[present - 1])) << said;
  }
  for (const wchar_t* name : files) DeleteFileW((dir + L"\\" + name).c_str());
  DeleteFileW(output.c_str());
  RemoveDirectoryW(dir.c_str());
}

TEST(Dispatch, VtableWorksWhileTheTypeLibraryIsNotRegistered) {
  Reinstall guard;
  ASSERT_EQ(0u, RunCmd(L"regtlb.exe /u /s Quillbox.tlb", BuildDirectory()));
  ITypeLib* library = nullptr;
  HRESULT expected = LoadRegTypeLib(LIBID_QuillboxLib, 1, 0, 0, &library);
  ASSERT_TRUE(FAILED(expected));

  // An object of the module linked into this program, whose type-information
  // cache has never held this interface.
  ComPtr<IImageOutputService> service;
  ASSERT_EQ(S_OK, qb::CreateObject<qb::ImageOutputService>(
                      nullptr, IID_IImageOutputService, reinterpret_cast<void**>(service.GetAddressOf())));
  UINT count = 0;
  EXPECT_EQ(S_OK, service->GetTypeInfoCount(&count));
  EXPECT_EQ(1u, count);
  ITypeInfo* info = reinterpret_cast<ITypeInfo*>(0xdeadbeef);
  EXPECT_EQ(expected, service->GetTypeInfo(0, 0, &info));
  EXPECT_EQ(nullptr, info);
  LPOLESTR name = const_cast<LPOLESTR>(L"Prepare");
  DISPID id = 0;
  EXPECT_EQ(expected, service->GetIDsOfNames(IID_NULL, &name, 1, 0, &id));
  DISPPARAMS none = {nullptr, nullptr, 0, 0};
  EXPECT_EQ(expected, service->Invoke(1, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr));
  EXPECT_EQ(S_OK, service->Prepare()) << "the vtable does not need the type library";

  // A failure is not remembered: once registered, dispatch works.
  ASSERT_EQ(0u, RunCmd(L"regtlb.exe /s Quillbox.tlb", BuildDirectory()));
  ComPtr<ITypeInfo> loaded;
  EXPECT_EQ(S_OK, service->GetTypeInfo(0, 0, loaded.GetAddressOf()));
  EXPECT_EQ(S_OK, service->GetIDsOfNames(IID_NULL, &name, 1, 0, &id));
  EXPECT_EQ(S_OK, service->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr));
}
