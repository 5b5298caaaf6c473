#include "server/registrar.h"

#include <climits>
#include <string>
#include <string_view>
#include <vector>

#include "base/resource_guards.h"
#include "base/text.h"
#include "com/module.h"

namespace qb {

namespace {

HKEY RootKey(reg::Root root) {
  switch (root) {
    case reg::Root::ClassesRoot: return HKEY_CLASSES_ROOT;
    case reg::Root::CurrentUser: return HKEY_CURRENT_USER;
    case reg::Root::LocalMachine: return HKEY_LOCAL_MACHINE;
    case reg::Root::Users: return HKEY_USERS;
    case reg::Root::PerformanceData: return HKEY_PERFORMANCE_DATA;
    case reg::Root::DynData: return HKEY_DYN_DATA;
    case reg::Root::CurrentConfig: return HKEY_CURRENT_CONFIG;
  }
  return nullptr;
}

// Registry texts are UTF-8, converted strictly so that a name is never
// silently changed.
bool Utf8ToWide(std::string_view in, std::wstring& out) { return ToWide(CP_UTF8, in, out, true); }
bool ToUtf8(std::wstring_view in, std::string& out) { return ToNarrow(CP_UTF8, in, out, true); }

constexpr reg::Status kBadText{ERROR_NO_UNICODE_TRANSLATION};

reg::Status Open(reg::Root root, const std::string& path, REGSAM access, UniqueHKey& key) {
  std::wstring wpath;
  if (!Utf8ToWide(path, wpath)) return kBadText;
  return reg::Status{static_cast<int>(RegOpenKeyExW(RootKey(root), wpath.c_str(), 0, access, key.put()))};
}

HRESULT HResultFromLastError() {
  const DWORD e = GetLastError();
  return e != ERROR_SUCCESS ? HRESULT_FROM_WIN32(e) : E_FAIL;
}

}  // namespace

bool WinRegistryStore::KeyExists(reg::Root root, const std::string& path) {
  UniqueHKey key;
  const reg::Status s = Open(root, path, KEY_QUERY_VALUE, key);
  // A key we may not read still exists.
  return s.ok() || s.code == ERROR_ACCESS_DENIED;
}

reg::Status WinRegistryStore::CreateKey(reg::Root root, const std::string& path) {
  std::wstring wpath;
  if (!Utf8ToWide(path, wpath)) return kBadText;
  UniqueHKey key;
  return reg::Status{static_cast<int>(RegCreateKeyExW(RootKey(root), wpath.c_str(), 0, nullptr,
                                                      REG_OPTION_NON_VOLATILE, KEY_QUERY_VALUE, nullptr,
                                                      key.put(), nullptr))};
}

reg::Status WinRegistryStore::SetValue(reg::Root root, const std::string& path, const std::string& name,
                                       const reg::Value& value) {
  std::wstring wname;
  if (!Utf8ToWide(name, wname)) return kBadText;
  UniqueHKey key;
  if (reg::Status s = Open(root, path, KEY_SET_VALUE, key); !s.ok()) return s;
  // An empty name is the key's default value.
  const wchar_t* valueName = name.empty() ? nullptr : wname.c_str();

  LONG rc = ERROR_SUCCESS;
  switch (value.type) {
    case reg::ValueType::String: {
      std::wstring text;
      if (!Utf8ToWide(value.text, text)) return kBadText;
      const size_t bytes = (text.size() + 1) * sizeof(wchar_t);  // with the terminating NUL
      if (bytes > MAXDWORD) return reg::Status{ERROR_INVALID_PARAMETER};
      rc = RegSetValueExW(key.get(), valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                          static_cast<DWORD>(bytes));
      break;
    }
    case reg::ValueType::Dword: {
      const DWORD number = value.number;
      rc = RegSetValueExW(key.get(), valueName, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number),
                          sizeof number);
      break;
    }
    case reg::ValueType::Binary: {
      if (value.bytes.size() > MAXDWORD) return reg::Status{ERROR_INVALID_PARAMETER};
      static const BYTE kNone = 0;  // a valid pointer for an empty value
      rc = RegSetValueExW(key.get(), valueName, 0, REG_BINARY,
                          value.bytes.empty() ? &kNone : value.bytes.data(),
                          static_cast<DWORD>(value.bytes.size()));
      break;
    }
  }
  return reg::Status{static_cast<int>(rc)};
}

reg::Status WinRegistryStore::DeleteValue(reg::Root root, const std::string& path, const std::string& name) {
  std::wstring wname;
  if (!Utf8ToWide(name, wname)) return kBadText;
  UniqueHKey key;
  if (reg::Status s = Open(root, path, KEY_SET_VALUE, key); !s.ok()) return s;
  return reg::Status{static_cast<int>(RegDeleteValueW(key.get(), name.empty() ? nullptr : wname.c_str()))};
}

// The empty path is the root key itself, which is never deleted: for
// RegDeleteTreeW an empty subkey would mean "everything under the root".
reg::Status WinRegistryStore::DeleteTree(reg::Root root, const std::string& path) {
  if (path.empty()) return reg::Status{ERROR_ACCESS_DENIED};
  std::wstring wpath;
  if (!Utf8ToWide(path, wpath)) return kBadText;
  return reg::Status{static_cast<int>(RegDeleteTreeW(RootKey(root), wpath.c_str()))};
}

reg::Status WinRegistryStore::DeleteKey(reg::Root root, const std::string& path) {
  if (path.empty()) return reg::Status{ERROR_ACCESS_DENIED};
  std::wstring wpath;
  if (!Utf8ToWide(path, wpath)) return kBadText;
  // Fails with ERROR_ACCESS_DENIED while the key has subkeys.
  return reg::Status{static_cast<int>(RegDeleteKeyW(RootKey(root), wpath.c_str()))};
}

bool WinRegistryStore::HasSubkeys(reg::Root root, const std::string& path) {
  UniqueHKey key;
  if (!Open(root, path, KEY_QUERY_VALUE, key).ok()) return false;
  DWORD subkeys = 0;
  const LONG rc = RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr,
                                   nullptr, nullptr, nullptr, nullptr);
  // When in doubt, report subkeys: the caller then keeps the key.
  return rc != ERROR_SUCCESS || subkeys != 0;
}

HRESULT ScriptResultToHResult(const reg::Result& result) {
  switch (result.failure) {
    case reg::Failure::None: return S_OK;
    case reg::Failure::Syntax: return DISP_E_EXCEPTION;
    case reg::Failure::Store:
      return result.code != 0 ? HRESULT_FROM_WIN32(static_cast<DWORD>(result.code)) : E_FAIL;
  }
  return E_FAIL;
}

std::wstring HostPath(const std::wstring& modulePath) {
  const size_t slash = modulePath.find_last_of(L"\\/");
  return (slash == std::wstring::npos ? std::wstring() : modulePath.substr(0, slash + 1)) + L"QuillboxHost.exe";
}

HRESULT RunRegistryScriptText(const std::string& scriptUtf8, bool doRegister, const std::wstring& modulePath) {
  std::string module, host;
  if (!ToUtf8(modulePath, module) || !ToUtf8(HostPath(modulePath), host))
    return HRESULT_FROM_WIN32(ERROR_NO_UNICODE_TRANSLATION);
  const reg::Variables variables = {{"MODULE", module}, {"HOST", host}};
  WinRegistryStore store;
  const reg::Result result = reg::Run(scriptUtf8, variables, store, doRegister);
  if (!result.ok()) {
    std::wstring text;
    const std::string line = "Quillbox registrar: registry script line " + std::to_string(result.line) + ": " +
                             result.message + "\n";
    if (Utf8ToWide(line, text)) OutputDebugStringW(text.c_str());
  }
  return ScriptResultToHResult(result);
}

HRESULT RunRegistryScript(UINT resourceId, bool doRegister) {
  const HMODULE module = ModuleInstance();
  const HRSRC resource = FindResourceW(module, MAKEINTRESOURCEW(resourceId), L"REGISTRY");
  if (!resource) return HResultFromLastError();
  const HGLOBAL loaded = LoadResource(module, resource);
  const DWORD size = SizeofResource(module, resource);
  const char* data = loaded ? static_cast<const char*>(LockResource(loaded)) : nullptr;
  if (!data) return HResultFromLastError();

  // A resource compiler may pad the text with NULs; the script ends at the first.
  std::string_view ansi(data, size);
  ansi = ansi.substr(0, ansi.find('\0'));
  std::wstring wide;
  std::string utf8;
  if (!ToWide(CP_ACP, ansi, wide) || !ToUtf8(wide, utf8)) return HRESULT_FROM_WIN32(ERROR_NO_UNICODE_TRANSLATION);

  // The longest path the wide file functions accept.
  std::vector<wchar_t> path(32768);
  if (!ModulePath(path.data(), static_cast<DWORD>(path.size()))) return HResultFromLastError();
  return RunRegistryScriptText(utf8, doRegister, path.data());
}

}  // namespace qb
