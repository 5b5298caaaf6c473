// The registrar against the real registry: every test works in the scratch
// tree HKCU\Software\QuillboxRegistrarTest, removed before and after it.
// Tests of the module's own scripts redirect HKCR into that tree, so the
// registrations other tests rely on are never touched.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "base/resource_guards.h"
#include "com/module.h"
#include "server/registrar.h"

namespace {

constexpr wchar_t kScratch[] = L"Software\\QuillboxRegistrarTest";
const std::wstring kModule = L"C:\\Pr\u00F6gramme\\Quillbox\\Quillbox.dll";

struct RegValue {
  LONG rc = ERROR_SUCCESS;
  DWORD type = 0;
  std::vector<BYTE> data;
};

RegValue ReadValue(const std::wstring& path, const wchar_t* name) {
  RegValue v;
  qb::UniqueHKey key;
  v.rc = RegOpenKeyExW(HKEY_CURRENT_USER, (std::wstring(kScratch) + L"\\" + path).c_str(), 0, KEY_QUERY_VALUE,
                       key.put());
  if (v.rc != ERROR_SUCCESS) return v;
  DWORD size = 0;
  v.rc = RegQueryValueExW(key.get(), name, nullptr, &v.type, nullptr, &size);
  if (v.rc != ERROR_SUCCESS) return v;
  v.data.resize(size);
  v.rc = RegQueryValueExW(key.get(), name, nullptr, &v.type, v.data.data(), &size);
  v.data.resize(size);
  return v;
}

std::wstring AsString(const RegValue& v) {
  std::wstring s(v.data.size() / sizeof(wchar_t), L'\0');
  std::copy(v.data.begin(), v.data.begin() + s.size() * sizeof(wchar_t), reinterpret_cast<BYTE*>(s.data()));
  while (!s.empty() && s.back() == L'\0') s.pop_back();
  return s;
}

bool ScratchKeyExists(const std::wstring& path) {
  qb::UniqueHKey key;
  return RegOpenKeyExW(HKEY_CURRENT_USER, (std::wstring(kScratch) + L"\\" + path).c_str(), 0, KEY_QUERY_VALUE,
                       key.put()) == ERROR_SUCCESS;
}

// Every key and value under `key`, one sorted line each.
void DumpKey(HKEY key, const std::wstring& shown, std::vector<std::wstring>& lines) {
  lines.push_back(shown);
  std::vector<wchar_t> name(16384);
  std::vector<BYTE> data(65536);
  for (DWORD i = 0;; ++i) {
    DWORD nameLen = static_cast<DWORD>(name.size()), size = static_cast<DWORD>(data.size()), type = 0;
    if (RegEnumValueW(key, i, name.data(), &nameLen, nullptr, &type, data.data(), &size) != ERROR_SUCCESS) break;
    std::wstring line = shown + L" " + (nameLen ? std::wstring(name.data(), nameLen) : L"@") + L" = " +
                        std::to_wstring(type) + L":";
    for (DWORD k = 0; k < size; ++k) {
      line += L"0123456789abcdef"[data[k] >> 4];
      line += L"0123456789abcdef"[data[k] & 15];
    }
    lines.push_back(line);
  }
  for (DWORD i = 0;; ++i) {
    DWORD nameLen = static_cast<DWORD>(name.size());
    if (RegEnumKeyExW(key, i, name.data(), &nameLen, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    const std::wstring sub(name.data(), nameLen);
    qb::UniqueHKey child;
    if (RegOpenKeyExW(key, sub.c_str(), 0, KEY_READ, child.put()) == ERROR_SUCCESS)
      DumpKey(child.get(), shown + L"\\" + sub, lines);
  }
}

std::wstring DumpScratch() {
  qb::UniqueHKey key;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, kScratch, 0, KEY_READ, key.put()) != ERROR_SUCCESS) return L"(absent)";
  std::vector<std::wstring> lines;
  DumpKey(key.get(), L"", lines);
  std::sort(lines.begin(), lines.end());
  std::wstring out;
  for (const std::wstring& l : lines) out += l + L"\n";
  return out;
}

void CreateScratchKey(const std::wstring& path) {
  qb::UniqueHKey key;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, (std::wstring(kScratch) + L"\\" + path).c_str(), 0, nullptr, 0,
                            KEY_WRITE, nullptr, key.put(), nullptr),
            ERROR_SUCCESS);
}

class Registrar : public testing::Test {
 protected:
  void SetUp() override { RegDeleteTreeW(HKEY_CURRENT_USER, kScratch); }
  void TearDown() override { RegDeleteTreeW(HKEY_CURRENT_USER, kScratch); }

  static HRESULT Run(const std::string& script, bool doRegister) {
    return qb::RunRegistryScriptText(script, doRegister, kModule);
  }
};

// A class-shaped script rooted in the scratch tree.
const std::string kClassScript = R"(HKCU
{
  NoRemove Software
  {
    NoRemove QuillboxRegistrarTest
    {
      Quillbox.Test.1 = s 'Test Class' { CLSID = s '{0F0F0F0F-1111-2222-3333-444444444444}' }
      Quillbox.Test = s 'Test Class'
      {
        CLSID = s '{0F0F0F0F-1111-2222-3333-444444444444}'
        CurVer = s 'Quillbox.Test.1'
      }
      NoRemove CLSID
      {
        ForceRemove {0F0F0F0F-1111-2222-3333-444444444444} = s 'Test Class'
        {
          ProgID = s 'Quillbox.Test.1'
          ForceRemove 'Programmable'
          InprocServer32 = s '%MODULE%' { val ThreadingModel = s 'Apartment' }
        }
      }
    }
  }
})";

TEST_F(Registrar, WritesStringDwordAndBinaryValues) {
  ASSERT_EQ(Run(R"(HKCU { 'Software\QuillboxRegistrarTest\Server' = s 'Gr)" "\xC3\xBC\xC3\x9F" R"('
  {
    InprocServer32 = s '%Module%' { val ThreadingModel = s 'Apartment' }
    val Count = d '0xFFFFFFFE'
    val Blob = b '00FF10'
    val Empty = b ''
  } })",
                true),
            S_OK);

  RegValue v = ReadValue(L"Server", nullptr);
  ASSERT_EQ(v.rc, ERROR_SUCCESS);
  EXPECT_EQ(v.type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(AsString(v), L"Gr\u00FC\u00DF");

  v = ReadValue(L"Server\\InprocServer32", nullptr);
  EXPECT_EQ(v.type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(AsString(v), kModule);
  EXPECT_EQ(AsString(ReadValue(L"Server\\InprocServer32", L"ThreadingModel")), L"Apartment");

  v = ReadValue(L"Server", L"Count");
  ASSERT_EQ(v.rc, ERROR_SUCCESS);
  EXPECT_EQ(v.type, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(v.data, (std::vector<BYTE>{0xFE, 0xFF, 0xFF, 0xFF}));

  v = ReadValue(L"Server", L"Blob");
  EXPECT_EQ(v.type, static_cast<DWORD>(REG_BINARY));
  EXPECT_EQ(v.data, (std::vector<BYTE>{0x00, 0xFF, 0x10}));

  v = ReadValue(L"Server", L"Empty");
  ASSERT_EQ(v.rc, ERROR_SUCCESS);
  EXPECT_EQ(v.type, static_cast<DWORD>(REG_BINARY));
  EXPECT_TRUE(v.data.empty());
}

TEST_F(Registrar, RegisteringTwiceLeavesOneCopy) {
  ASSERT_EQ(Run(kClassScript, true), S_OK);
  const std::wstring once = DumpScratch();
  CreateScratchKey(L"CLSID\\{0F0F0F0F-1111-2222-3333-444444444444}\\Stale");
  ASSERT_EQ(Run(kClassScript, true), S_OK);
  EXPECT_EQ(DumpScratch(), once);
}

TEST_F(Registrar, UnregisterRemovesWhatItCreatedAndKeepsNoRemoveKeys) {
  CreateScratchKey(L"CLSID\\{99999999-0000-0000-0000-000000000000}");
  const std::wstring before = DumpScratch();
  ASSERT_EQ(Run(kClassScript, true), S_OK);
  ASSERT_TRUE(ScratchKeyExists(L"CLSID\\{0F0F0F0F-1111-2222-3333-444444444444}\\Programmable"));
  ASSERT_EQ(Run(kClassScript, false), S_OK);
  EXPECT_EQ(DumpScratch(), before);
  // Nothing left to remove is still success.
  EXPECT_EQ(Run(kClassScript, false), S_OK);
}

// HKEY_PERFORMANCE_DATA takes no subkeys, so the second block fails after the
// first has written its keys.
TEST_F(Registrar, FailurePartWayLeavesNoKeyItCreated) {
  CreateScratchKey(L"Existing");
  const std::wstring before = DumpScratch();
  const HRESULT hr = Run(R"(HKCU { 'Software\QuillboxRegistrarTest' {
      Existing { New = s 'x' }
      Fresh { Deeper { Deepest } }
    } }
    HKEY_PERFORMANCE_DATA { QuillboxRegistrarTest })",
                         true);
  EXPECT_TRUE(FAILED(hr));
  EXPECT_EQ(HRESULT_FACILITY(hr), FACILITY_WIN32) << std::hex << hr;
  EXPECT_EQ(DumpScratch(), before);
}

TEST_F(Registrar, MalformedScriptWritesNothing) {
  const char* scripts[] = {
      "HKCU { 'Software\\QuillboxRegistrarTest\\A' } HKCU { B = b 'abc' }",
      "HKCU { 'Software\\QuillboxRegistrarTest\\A' = s '%NOSUCH%' }",
      "HKCU { 'Software\\QuillboxRegistrarTest\\A' {",
  };
  for (const char* script : scripts) {
    EXPECT_EQ(Run(script, true), DISP_E_EXCEPTION) << script;
    EXPECT_EQ(DumpScratch(), L"(absent)") << script;
  }
}

// ---- The module's own scripts -----------------------------------------------

// Sends HKCR to a key of the scratch tree for the life of the object.
class ClassesRootRedirect {
 public:
  ClassesRootRedirect() {
    RegCreateKeyExW(HKEY_CURRENT_USER, (std::wstring(kScratch) + L"\\Classes").c_str(), 0, nullptr, 0,
                    KEY_ALL_ACCESS, nullptr, m_key.put(), nullptr);
    m_ok = m_key && RegOverridePredefKey(HKEY_CLASSES_ROOT, m_key.get()) == ERROR_SUCCESS;
  }
  ~ClassesRootRedirect() {
    if (m_ok) RegOverridePredefKey(HKEY_CLASSES_ROOT, nullptr);
  }
  bool ok() const { return m_ok; }

 private:
  qb::UniqueHKey m_key;
  bool m_ok = false;
};

struct ModuleScript {
  UINT id;
  const wchar_t* progId;
  bool hasCurVer;
};

TEST_F(Registrar, ModuleScriptsRegisterAndUnregisterTheirClass) {
  std::vector<wchar_t> modulePath(32768);
  ASSERT_TRUE(qb::ModulePath(modulePath.data(), static_cast<DWORD>(modulePath.size())));
  // VuPicture has the common shape; FileInfoArray's lacks CurVer.
  for (const ModuleScript& s : {ModuleScript{101, L"Quillbox.VuPicture", true},
                                ModuleScript{127, L"Quillbox.FileInfoArray", false}}) {
    SCOPED_TRACE(s.progId);
    ClassesRootRedirect redirect;
    ASSERT_TRUE(redirect.ok());
    CreateScratchKey(L"Classes\\CLSID");
    ASSERT_EQ(qb::RunRegistryScript(s.id, true), S_OK);

    const std::wstring progId = std::wstring(L"Classes\\") + s.progId;
    const std::wstring clsid = AsString(ReadValue(progId + L".1\\CLSID", nullptr));
    ASSERT_EQ(clsid.size(), 38u) << clsid;
    EXPECT_EQ(AsString(ReadValue(progId + L"\\CLSID", nullptr)), clsid);
    EXPECT_EQ(ScratchKeyExists(progId + L"\\CurVer"), s.hasCurVer);
    const std::wstring server = L"Classes\\CLSID\\" + clsid;
    EXPECT_EQ(AsString(ReadValue(server + L"\\ProgID", nullptr)), std::wstring(s.progId) + L".1");
    EXPECT_EQ(AsString(ReadValue(server + L"\\InprocServer32", nullptr)), modulePath.data());

    ASSERT_EQ(qb::RunRegistryScript(s.id, false), S_OK);
    EXPECT_FALSE(ScratchKeyExists(progId + L".1"));
    EXPECT_FALSE(ScratchKeyExists(progId));
    EXPECT_FALSE(ScratchKeyExists(server));
    EXPECT_TRUE(ScratchKeyExists(L"Classes\\CLSID"));
  }
}

TEST_F(Registrar, MissingScriptResourceFails) {
  const HRESULT hr = qb::RunRegistryScript(9999, true);
  EXPECT_EQ(hr, HRESULT_FROM_WIN32(ERROR_RESOURCE_NAME_NOT_FOUND));
}

}  // namespace
