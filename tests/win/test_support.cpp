#include "test_support.h"

namespace qbtest {

HMODULE ServerModule() {
  static HMODULE module = LoadLibraryW(BuildFile(L"Quillbox.dll").c_str());
  return module;
}

bool ReadRegString(HKEY root, const std::wstring& path, const wchar_t* name, std::wstring* out) {
  wchar_t buffer[1024];
  DWORD size = sizeof(buffer);
  DWORD type = 0;
  HKEY key = nullptr;
  if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  LONG rc = RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size);
  RegCloseKey(key);
  if (rc != ERROR_SUCCESS || type != REG_SZ) return false;
  out->assign(buffer, size / sizeof(wchar_t));
  while (!out->empty() && out->back() == L'\0') out->pop_back();
  return true;
}

bool KeyExists(HKEY root, const std::wstring& path) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

std::wstring GuidString(REFGUID guid) {
  wchar_t text[64];
  StringFromGUID2(guid, text, 64);
  return text;
}

PeDirectories ReadPeDirectories(HMODULE module) {
  PeDirectories pe;
  auto* base = reinterpret_cast<const BYTE*>(module);
  auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& ed = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
  if (ed.VirtualAddress) {
    auto* dir = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + ed.VirtualAddress);
    auto* names = reinterpret_cast<const DWORD*>(base + dir->AddressOfNames);
    for (DWORD i = 0; i < dir->NumberOfNames; ++i)
      pe.exports.push_back(reinterpret_cast<const char*>(base + names[i]));
  }
  const IMAGE_DATA_DIRECTORY& id = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  if (!id.VirtualAddress) return pe;
  for (auto* imp = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + id.VirtualAddress);
       imp->Name != 0; ++imp) {
    std::vector<std::string>& functions = pe.imports[reinterpret_cast<const char*>(base + imp->Name)];
    DWORD lookup = imp->OriginalFirstThunk ? imp->OriginalFirstThunk : imp->FirstThunk;
    for (auto* thunk = reinterpret_cast<const IMAGE_THUNK_DATA32*>(base + lookup);
         thunk->u1.AddressOfData != 0; ++thunk) {
      if (thunk->u1.Ordinal & IMAGE_ORDINAL_FLAG32) {
        std::string ordinal = "#";
        ordinal += std::to_string(thunk->u1.Ordinal & 0xFFFF);
        functions.push_back(ordinal);
      } else {
        auto* byName = reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + thunk->u1.AddressOfData);
        functions.push_back(reinterpret_cast<const char*>(byName->Name));
      }
    }
  }
  return pe;
}

}  // namespace qbtest
