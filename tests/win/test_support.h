// Shared helpers of the Windows test program. The program runs under Wine
// in a prefix where the harness has registered Quillbox.dll and
// Quillbox.tlb from the build directory.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <wrl/client.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "process_counts.h"
#include "quillbox.h"
#include "server/object_map.h"

namespace qbtest {

using Microsoft::WRL::ComPtr;

// Marker that proves a failing call left an out value alone.
constexpr LONG kMarker = static_cast<LONG>(0xDEADBEEF);

// A build-tree file as a Windows path (the build tree is a Linux path that
// Wine maps onto drive Z:).
inline std::wstring BuildFile(const wchar_t* name) {
  std::wstring path = L"Z:";
  for (const char* p = QB_BUILD_DIR; *p; ++p) path += (*p == '/') ? L'\\' : static_cast<wchar_t>(*p);
  path += L'\\';
  path += name;
  return path;
}

// Quillbox.dll as loaded by COM from its registered path: the same module
// instance that CoCreateInstance uses in this process.
HMODULE ServerModule();

template <class T>
T ServerExport(const char* name) {
  return reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(ServerModule(), name)));
}

// A new object of the class through COM, asked for interface I.
template <class I>
ComPtr<I> Make(REFCLSID clsid) {
  ComPtr<I> p;
  HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, __uuidof(I),
                                reinterpret_cast<void**>(p.GetAddressOf()));
  EXPECT_EQ(S_OK, hr) << "creating an object of the class";
  return p;
}

inline ComPtr<IVuPicture> NewPicture() { return Make<IVuPicture>(CLSID_VuPicture); }

// A picture of the registered server that takes `block` over, with a file
// name when one is given.
ComPtr<IVuPicture> PictureOf(int32_t block, const wchar_t* name = nullptr);
// The same made by the server code linked into this program.
ComPtr<IVuPicture> LinkedPictureOf(int32_t block);
// The block a picture holds (0 when it holds none).
int32_t HandleOf(IVuPicture* p);
// Writes a block as a file through the imaging library; the path in ANSI.
void SaveBlock(int32_t block, const std::wstring& path);

// A new object of the class made by the server code linked into this
// program (not the registered DLL), so that the module-wide state it
// touches is the one the test can read.
template <class I>
ComPtr<I> MakeLinked(REFCLSID clsid) {
  ComPtr<IClassFactory> factory;
  ComPtr<I> p;
  HRESULT hr = qb::GetClassFactory(clsid, IID_IClassFactory, reinterpret_cast<void**>(factory.GetAddressOf()));
  if (SUCCEEDED(hr)) hr = factory->CreateInstance(nullptr, __uuidof(I), reinterpret_cast<void**>(p.GetAddressOf()));
  EXPECT_EQ(S_OK, hr) << "creating an object of the linked class";
  return p;
}

// A BSTR for the length of a call.
class Bstr {
 public:
  explicit Bstr(const std::wstring& s) : m_b(SysAllocStringLen(s.data(), static_cast<UINT>(s.size()))) {}
  ~Bstr() { SysFreeString(m_b); }
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  operator BSTR() const { return m_b; }

 private:
  BSTR m_b;
};

inline ULONG RefCount(IUnknown* p) {
  p->AddRef();
  return p->Release();
}

// Reads a registry string value; empty optional-like result as a flag.
bool ReadRegString(HKEY root, const std::wstring& path, const wchar_t* name, std::wstring* out);
bool KeyExists(HKEY root, const std::wstring& path);

std::wstring GuidString(REFGUID guid);

// The export names of a mapped module, and its imports: library name to the
// functions imported by name ("#n" for one imported by ordinal).
struct PeDirectories {
  std::vector<std::string> exports;
  std::map<std::string, std::vector<std::string>> imports;
};
PeDirectories ReadPeDirectories(HMODULE module);

// A file's bytes (empty when it cannot be read), and a file written anew.
std::vector<uint8_t> ReadFileBytes(const std::wstring& path);
bool WriteFileBytes(const std::wstring& path, const std::vector<uint8_t>& bytes);

// What the process holds (process_counts.h): its committed private memory,
// its kernel handles and its GDI objects but for DCs and regions.
struct ProcessCounts {
  SIZE_T privateBytes = 0;
  int kernel = 0;
  int gdi = 0;
};
ProcessCounts TakeProcessCounts();

// A scratch folder in the temporary directory, made for one test and
// removed with everything in it (read-only files and subfolders too).
class ScratchFolder {
 public:
  explicit ScratchFolder(const wchar_t* prefix);
  ~ScratchFolder() { Remove(m_dir); }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  const std::wstring& dir() const { return m_dir; }
  std::wstring Path(const std::wstring& name) const { return m_dir + L"\\" + name; }
  // The same path in the ANSI code page, for calls that take narrow names
  // (the scratch folder's names are plain ASCII).
  std::string PathA(const std::string& name) const;
  // A subfolder, made when missing.
  std::wstring Folder(const std::wstring& name) const;
  bool Write(const std::wstring& name, const std::vector<uint8_t>& bytes) const {
    return WriteFileBytes(Path(name), bytes);
  }
  std::vector<uint8_t> Read(const std::wstring& name) const { return ReadFileBytes(Path(name)); }
  // The names in a folder, "." and ".." left out.
  static std::vector<std::wstring> Names(const std::wstring& dir);

 private:
  static void Remove(const std::wstring& dir);
  std::wstring m_dir;
};

}  // namespace qbtest
