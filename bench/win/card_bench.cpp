// Cards and drawing through COM, as a client calls them under Windows.
// Packs and unpacks a card holding a 20 MB picture file and prints the
// rates in MB/s beside the rate of copying the same file with CopyFileW in
// the same run, and the size of the player in front of every card (what a
// card costs beyond its files); then times drawing a 6000 x 4000 picture into a 1000 x 667
// memory context with HALFTONE.
//
//   wine card_bench.exe   (Quillbox registered in the prefix, Showreel.EXE
//                          beside it)
#include <windows.h>
#include <objbase.h>
#include <wrl/client.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "bench_clock.h"
#include "quillbox.h"

namespace {

using bench::Now;

using Microsoft::WRL::ComPtr;

constexpr DWORD kPictureBytes = 20 * 1000 * 1000;
constexpr int kRuns = 5;
constexpr LONG kWidth = 6000, kHeight = 4000;
constexpr int kDrawWidth = 1000, kDrawHeight = 667;

bool WriteFileBytes(const std::wstring& path, const std::vector<uint8_t>& bytes) {
  HANDLE f = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (f == INVALID_HANDLE_VALUE) return false;
  DWORD n = 0;
  const bool ok = WriteFile(f, bytes.data(), static_cast<DWORD>(bytes.size()), &n, nullptr) && n == bytes.size();
  CloseHandle(f);
  return ok;
}

// The container offset in a card's trailer: the length of its player.
uint32_t PlayerSizeOf(const std::wstring& card) {
  HANDLE f = CreateFileW(card.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (f == INVALID_HANDLE_VALUE) return 0;
  uint8_t trailer[15] = {};
  DWORD n = 0;
  LARGE_INTEGER back;
  back.QuadPart = -15;
  const bool ok = SetFilePointerEx(f, back, nullptr, FILE_END) && ReadFile(f, trailer, 15, &n, nullptr) && n == 15;
  CloseHandle(f);
  return ok ? trailer[0] | trailer[1] << 8 | trailer[2] << 16 | static_cast<uint32_t>(trailer[3]) << 24 : 0;
}

class Bstr {
 public:
  explicit Bstr(const std::wstring& s) : m_b(SysAllocString(s.c_str())) {}
  ~Bstr() { SysFreeString(m_b); }
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  operator BSTR() const { return m_b; }

 private:
  BSTR m_b;
};

void CardRates(const std::wstring& dir) {
  std::vector<uint8_t> picture(kPictureBytes);
  uint32_t x = 2024;
  for (uint8_t& b : picture) b = static_cast<uint8_t>((x = x * 1103515245u + 12345u) >> 24);
  const std::wstring picturePath = dir + L"\\picture.jpg", notePath = dir + L"\\note.txt";
  if (!WriteFileBytes(picturePath, picture) || !WriteFileBytes(notePath, {'n', 'o', 't', 'e'})) {
    std::printf("cannot write the bench files in %ls\n", dir.c_str());
    return;
  }
  ComPtr<IExportToCard> exporter;
  if (FAILED(CoCreateInstance(CLSID_ExportToCard, nullptr, CLSCTX_INPROC_SERVER, IID_IExportToCard,
                              reinterpret_cast<void**>(exporter.GetAddressOf())))) {
    std::printf("ExportToCard is not registered\n");
    return;
  }
  double copy = 1e9, pack = 1e9, unpack = 1e9;
  uint32_t playerSize = 0;
  for (int run = 0; run < kRuns; ++run) {
    const std::wstring copied = dir + L"\\copy.jpg", card = dir + L"\\card.exe";
    double t = Now();
    CopyFileW(picturePath.c_str(), copied.c_str(), FALSE);
    copy = std::min(copy, Now() - t);
    DeleteFileW(copied.c_str());

    t = Now();
    const HRESULT packed = exporter->PackCard(Bstr(picturePath), Bstr(notePath), Bstr(card));
    pack = std::min(pack, Now() - t);
    if (run == 0) playerSize = PlayerSizeOf(card);

    const std::wstring folder = dir + L"\\unpack" + std::to_wstring(run);
    CreateDirectoryW(folder.c_str(), nullptr);
    CopyFileW(card.c_str(), (folder + L"\\card.exe").c_str(), FALSE);
    t = Now();
    const HRESULT unpacked = exporter->UnpackCard(Bstr(folder + L"\\card.exe"));
    unpack = std::min(unpack, Now() - t);
    if (packed != S_OK || unpacked != S_OK) std::printf("run %d: pack %08lx, unpack %08lx\n", run, packed, unpacked);
    for (const wchar_t* name : {L"\\card.exe", L"\\picture.jpg", L"\\note.txt"}) DeleteFileW((folder + name).c_str());
    RemoveDirectoryW(folder.c_str());
    DeleteFileW(card.c_str());
  }
  DeleteFileW(picturePath.c_str());
  DeleteFileW(notePath.c_str());
  const double mb = kPictureBytes / 1e6;
  std::printf("card of a %.0f MB picture (best of %d runs)\n", mb, kRuns);
  std::printf("  CopyFileW  %8.1f MB/s\n", mb / copy);
  std::printf("  PackCard   %8.1f MB/s  %.2fx the copy\n", mb / pack, copy / pack);
  std::printf("  UnpackCard %8.1f MB/s  %.2fx the copy\n", mb / unpack, copy / unpack);
  // Every card carries the player, the record count, two record headers
  // and the trailer beside its files.
  std::printf("  player     %8lu bytes  (a card's fixed cost: %lu bytes)\n", static_cast<unsigned long>(playerSize),
              static_cast<unsigned long>(playerSize + 4 + 2 * 259 + 15));
}

void DrawRate() {
  const size_t bytes = 40 + static_cast<size_t>(kWidth) * 3 * kHeight;
  HGLOBAL g = GlobalAlloc(GMEM_MOVEABLE, bytes);
  if (!g) return;
  auto* p = static_cast<uint8_t*>(GlobalLock(g));
  auto* h = reinterpret_cast<BITMAPINFOHEADER*>(p);
  *h = BITMAPINFOHEADER{};
  h->biSize = 40;
  h->biWidth = kWidth;
  h->biHeight = kHeight;
  h->biPlanes = 1;
  h->biBitCount = 24;
  for (size_t i = 40; i < bytes; ++i) p[i] = static_cast<uint8_t>(i * 7 + (i >> 12));
  GlobalUnlock(g);

  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = kDrawWidth;
  info.bmiHeader.biHeight = -kDrawHeight;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  void* bits = nullptr;
  HBITMAP section = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HDC dc = CreateCompatibleDC(nullptr);
  HGDIOBJ old = SelectObject(dc, section);
  ComPtr<IImageRender> render;
  if (SUCCEEDED(CoCreateInstance(CLSID_ImageRender, nullptr, CLSCTX_INPROC_SERVER, IID_IImageRender,
                                 reinterpret_cast<void**>(render.GetAddressOf())))) {
    const LONG handle = static_cast<LONG>(reinterpret_cast<intptr_t>(g));
    const LONG dcValue = static_cast<LONG>(reinterpret_cast<intptr_t>(dc));
    double best = 1e9;
    HRESULT lines = 0;
    for (int run = 0; run < kRuns; ++run) {
      const double t = Now();
      lines = render->DrawHandle(handle, dcValue, 0, 0, kDrawWidth, kDrawHeight, 0, 0, kWidth, kHeight);
      GdiFlush();
      best = std::min(best, Now() - t);
    }
    std::printf("DrawHandle %ldx%ld into %dx%d with HALFTONE: %.1f ms (%.1f megapixels/s of source), %ld scan lines\n",
                kWidth, kHeight, kDrawWidth, kDrawHeight, best * 1e3, kWidth * kHeight / best / 1e6, lines);
  }
  SelectObject(dc, old);
  DeleteDC(dc);
  DeleteObject(section);
  GlobalFree(g);
}

}  // namespace

int main() {
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 1;
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  const std::wstring dir = std::wstring(temp) + L"quillbox-card-bench";
  CreateDirectoryW(dir.c_str(), nullptr);
  CardRates(dir);
  RemoveDirectoryW(dir.c_str());
  DrawRate();
  CoUninitialize();
  return 0;
}
