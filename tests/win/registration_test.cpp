// Self-registration of Quillbox.dll against the real registry of the
// prefix: the keys have exactly the shape of the class scripts and the
// AppID's, a second registration changes nothing, and unregistration
// removes what it made.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "server/object_map.h"
#include "test_support.h"

using namespace qbtest;

namespace {

using EntryFn = HRESULT(__stdcall*)();

// Names of the subkeys (or of the values) of a key under HKCR.
std::set<std::wstring> Names(const std::wstring& path, bool values) {
  std::set<std::wstring> names;
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
    return names;
  wchar_t name[256];
  for (DWORD i = 0;; ++i) {
    DWORD length = 256;
    LONG rc = values ? RegEnumValueW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr)
                     : RegEnumKeyExW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr);
    if (rc != ERROR_SUCCESS) break;
    names.insert(name);
  }
  RegCloseKey(key);
  return names;
}

std::set<std::wstring> Subkeys(const std::wstring& path) { return Names(path, false); }
std::set<std::wstring> ValueNames(const std::wstring& path) { return Names(path, true); }

std::wstring Default(const std::wstring& path) {
  std::wstring value;
  EXPECT_TRUE(ReadRegString(HKEY_CLASSES_ROOT, path, nullptr, &value)) << "no default value";
  return value;
}

std::wstring ModuleFileName() {
  wchar_t path[MAX_PATH];
  GetModuleFileNameW(ServerModule(), path, MAX_PATH);
  return path;
}

// The AppID every class names, read from the first class's key.
std::wstring AppId() {
  std::wstring appId;
  ReadRegString(HKEY_CLASSES_ROOT, L"CLSID\\" + GuidString(*qb::ObjectMap()[0].clsid), L"AppID", &appId);
  return appId;
}

void ExpectRegisteredShape() {
  const std::wstring libid = GuidString(LIBID_QuillboxLib);
  const std::wstring module = ModuleFileName();
  // One AppID for all the classes, whose surrogate is the host beside the
  // module, named by its full path in quotes.
  const std::wstring appId = AppId();
  EXPECT_EQ(38u, appId.size()) << "the classes have an AppID";
  EXPECT_EQ(L"Quillbox", Default(L"AppID\\" + appId));
  std::wstring surrogate;
  EXPECT_TRUE(ReadRegString(HKEY_CLASSES_ROOT, L"AppID\\" + appId, L"DllSurrogate", &surrogate));
  EXPECT_EQ(L"\"" + module.substr(0, module.rfind(L'\\') + 1) + L"QuillboxHost.exe\"", surrogate);
  for (size_t i = 0; i < qb::ObjectMapSize(); ++i) {
    const qb::ObjectMapEntry& e = qb::ObjectMap()[i];
    const std::wstring name = e.name;
    SCOPED_TRACE(std::string(name.begin(), name.end()));
    const bool collection = *e.clsid == CLSID_FileInfoArray;
    const std::wstring description = name + L" Class";
    const std::wstring clsid = GuidString(*e.clsid);
    const std::wstring progId = L"Quillbox." + name + L".1";
    const std::wstring independent = L"Quillbox." + name;

    EXPECT_EQ(description, Default(progId));
    EXPECT_EQ(std::set<std::wstring>{L"CLSID"}, Subkeys(progId));
    EXPECT_EQ(clsid, Default(progId + L"\\CLSID"));

    EXPECT_EQ(description, Default(independent));
    if (collection) {
      EXPECT_EQ(std::set<std::wstring>{L"CLSID"}, Subkeys(independent));
    } else {
      EXPECT_EQ((std::set<std::wstring>{L"CLSID", L"CurVer"}), Subkeys(independent));
      EXPECT_EQ(progId, Default(independent + L"\\CurVer"));
    }
    EXPECT_EQ(clsid, Default(independent + L"\\CLSID"));

    const std::wstring key = L"CLSID\\" + clsid;
    EXPECT_EQ(description, Default(key));
    std::set<std::wstring> expected = {L"ProgID", L"VersionIndependentProgID", L"InprocServer32"};
    if (!collection) expected.insert({L"Programmable", L"TypeLib"});
    EXPECT_EQ(expected, Subkeys(key));
    EXPECT_EQ(progId, Default(key + L"\\ProgID"));
    EXPECT_EQ(independent, Default(key + L"\\VersionIndependentProgID"));
    std::wstring classAppId;
    EXPECT_TRUE(ReadRegString(HKEY_CLASSES_ROOT, key, L"AppID", &classAppId));
    EXPECT_EQ(appId, classAppId);
    EXPECT_EQ(module, Default(key + L"\\InprocServer32"));
    std::wstring threading;
    EXPECT_TRUE(ReadRegString(HKEY_CLASSES_ROOT, key + L"\\InprocServer32", L"ThreadingModel", &threading));
    EXPECT_EQ(collection ? L"both" : L"Apartment", threading);
    EXPECT_EQ((std::set<std::wstring>{L"", L"ThreadingModel"}), ValueNames(key + L"\\InprocServer32"));
    if (!collection) {
      EXPECT_EQ(libid, Default(key + L"\\TypeLib"));
      EXPECT_TRUE(Subkeys(key + L"\\Programmable").empty());
    }
  }
}

}  // namespace

TEST(Registration, RegisterTwiceUnregisterAndRegisterAgain) {
  auto reg = ServerExport<EntryFn>("DllRegisterServer");
  auto unreg = ServerExport<EntryFn>("DllUnregisterServer");
  ASSERT_NE(nullptr, reg);
  ASSERT_NE(nullptr, unreg);

  ASSERT_EQ(S_OK, reg());
  ASSERT_EQ(S_OK, reg());
  ExpectRegisteredShape();
  // Scripts carried for classes the module does not serve are never run.
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, L"Quillbox.PictureModifier.1"));
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, L"Quillbox.FileInfo"));

  const std::wstring appId = AppId();
  ASSERT_EQ(S_OK, unreg());
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, L"AppID\\" + appId));
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, L"AppID"));
  for (size_t i = 0; i < qb::ObjectMapSize(); ++i) {
    const qb::ObjectMapEntry& e = qb::ObjectMap()[i];
    std::wstring name = e.name;
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, L"Quillbox." + name + L".1"));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, L"Quillbox." + name));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, L"CLSID\\" + GuidString(*e.clsid)));
  }
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, L"CLSID"));
  void* p = nullptr;
  EXPECT_EQ(REGDB_E_CLASSNOTREG,
            CoCreateInstance(CLSID_Bright, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &p));
  // A second unregistration finds nothing to remove and still succeeds.
  EXPECT_EQ(S_OK, unreg());

  // Leave the prefix as the harness registered it.
  ASSERT_EQ(S_OK, reg());
  ExpectRegisteredShape();
}
