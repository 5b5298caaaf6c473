#include "test_support.h"

#include "rastrum/rastrum.h"

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

std::vector<uint8_t> ReadFileBytes(const std::wstring& path) {
  std::vector<uint8_t> bytes;
  HANDLE f = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (f == INVALID_HANDLE_VALUE) return bytes;
  bytes.resize(GetFileSize(f, nullptr));
  DWORD n = 0;
  if (!ReadFile(f, bytes.data(), static_cast<DWORD>(bytes.size()), &n, nullptr)) n = 0;
  bytes.resize(n);
  CloseHandle(f);
  return bytes;
}

bool WriteFileBytes(const std::wstring& path, const std::vector<uint8_t>& bytes) {
  HANDLE f = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (f == INVALID_HANDLE_VALUE) return false;
  DWORD n = 0;
  const bool written = WriteFile(f, bytes.data(), static_cast<DWORD>(bytes.size()), &n, nullptr) && n == bytes.size();
  CloseHandle(f);
  return written;
}

ComPtr<IVuPicture> PictureOf(int32_t block, const wchar_t* name) {
  ComPtr<IVuPicture> p = Make<IVuPicture>(CLSID_VuPicture);
  EXPECT_EQ(S_OK, p->AttachImage(block));
  if (name) {
    BSTR b = SysAllocString(name);
    p->put_FileName(b);
    SysFreeString(b);
  }
  return p;
}

ComPtr<IVuPicture> LinkedPictureOf(int32_t block) {
  ComPtr<IVuPicture> p = MakeLinked<IVuPicture>(CLSID_VuPicture);
  EXPECT_EQ(S_OK, p->AttachImage(block));
  return p;
}

int32_t HandleOf(IVuPicture* p) {
  LONG h = 0;
  p->get_Handle(&h);
  return h;
}

void SaveBlock(int32_t block, const std::wstring& path) {
  char narrow[MAX_PATH];
  WideCharToMultiByte(CP_ACP, 0, path.c_str(), -1, narrow, MAX_PATH, nullptr, nullptr);
  ASSERT_GT(NimboSaveAsFile(block, narrow), 0);
}

ProcessCounts TakeProcessCounts() {
  return {PrivateBytes(), KernelHandles(), GdiObjects(GdiCount::kWithoutDcsAndRegions)};
}

ScratchFolder::ScratchFolder(const wchar_t* prefix) {
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  static int serial = 0;
  m_dir = std::wstring(temp) + prefix + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(++serial);
  CreateDirectoryW(m_dir.c_str(), nullptr);
}

std::string ScratchFolder::PathA(const std::string& name) const {
  char narrow[MAX_PATH * 2] = {};
  WideCharToMultiByte(CP_ACP, 0, m_dir.c_str(), -1, narrow, sizeof(narrow), nullptr, nullptr);
  return std::string(narrow) + "\\" + name;
}

std::wstring ScratchFolder::Folder(const std::wstring& name) const {
  CreateDirectoryW(Path(name).c_str(), nullptr);
  return Path(name);
}

std::vector<std::wstring> ScratchFolder::Names(const std::wstring& dir) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW((dir + L"\\*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return names;
  do {
    if (wcscmp(data.cFileName, L".") && wcscmp(data.cFileName, L"..")) names.push_back(data.cFileName);
  } while (FindNextFileW(find, &data));
  FindClose(find);
  return names;
}

void ScratchFolder::Remove(const std::wstring& dir) {
  for (const std::wstring& name : Names(dir)) {
    const std::wstring path = dir + L"\\" + name;
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
      Remove(path);
    } else {
      SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
      DeleteFileW(path.c_str());
    }
  }
  RemoveDirectoryW(dir.c_str());
}

}  // namespace qbtest
