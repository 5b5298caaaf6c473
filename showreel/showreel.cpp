// The card player. A card is a copy of this program with a picture and one
// further file appended (output/portable/card_format.h). Run as a card, it
// finds its container through the trailer, decodes the picture in memory
// and shows it in a window fitted to the screen, with the second file's
// name (and its text, when it is text) under the picture. Run bare, it says
// that there is nothing to show.
//
//   Showreel.EXE                   shows the card
//   Showreel.EXE /list             prints each record: name, a tab, length
//   Showreel.EXE /extract FOLDER   writes the records into FOLDER, never
//                                  replacing a file
//
// Exit codes: 0 done, 1 no card, 2 damaged card, 3 a record could not be
// written, 4 wrong arguments, 6 a file of a record's name is already in
// the folder (5 is left out: it is what a crashed program ends with under
// Wine).
//
// A card travels: it is run from a downloads folder, beside whatever lies
// there, and unpacks files beside itself. So the player imports only
// libraries that the system always loads from its own folder (kernel32,
// user32, gdi32, shell32, msvcrt), and before anything else it takes the
// program's and the current folder out of the search for any library
// loaded later.
//
// The test build (QB_SHOWREEL_TEST) adds a switch that writes a file:
//   ShowreelTest.EXE /snapshot CARD BMP   shows CARD, saves the window's
//                                         client area to BMP and ends
#include <windows.h>
#include <shellapi.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "base/folders.h"
#include "base/portable/dib_format.h"
#include "base/resource_guards.h"
#include "base/text.h"
#include "output/card_file.h"
#include "output/portable/card_format.h"
#include "rastrum/portable/codecs.h"
#include "rastrum/portable/raster.h"
#include "showreel/resource.h"

namespace {

using namespace qb;

enum Exit { kDone = 0, kNoCard = 1, kDamaged = 2, kCannotWrite = 3, kUsage = 4, kFileThere = 6 };

// The most of the second record's text shown under the picture.
constexpr uint32_t kNoteBytes = 4096;
constexpr int kNoteLines = 6;
constexpr wchar_t kWindowClass[] = L"QuillboxShowreel";

std::wstring LoadText(UINT id) {
  const wchar_t* text = nullptr;
  const int length = LoadStringW(GetModuleHandleW(nullptr), id, reinterpret_cast<LPWSTR>(&text), 0);
  return length > 0 ? std::wstring(text, static_cast<size_t>(length)) : std::wstring();
}

// Writes bytes to standard output or error: the handles the program was
// given, else its parent's console.
void Print(DWORD which, const std::string& bytes) {
  HANDLE out = GetStdHandle(which);
  if (!out || out == INVALID_HANDLE_VALUE) {
    AttachConsole(ATTACH_PARENT_PROCESS);
    out = GetStdHandle(which);
  }
  if (!out || out == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(out, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

void PrintError(const std::wstring& message, const char* reason = nullptr) {
  std::string line = ToAnsi(message);
  if (reason) line += std::string(" (") + reason + ")";
  Print(STD_ERROR_HANDLE, line + "\r\n");
}

// This program's own file, opened for reading, and the container in it.
struct OwnCard {
  std::unique_ptr<CardFile> file;
  uint32_t offset = 0;
};

bool OpenCard(const wchar_t* path, OwnCard& card) {
  card.file = std::make_unique<CardFile>(OpenForReading(path, FILE_SHARE_READ | FILE_SHARE_DELETE));
  return card.file->ok() && card::FindContainer(*card.file, card.offset);
}

bool OpenOwnCard(OwnCard& card) {
  std::vector<wchar_t> path(32768);
  const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
  if (length == 0 || length >= path.size()) return false;
  return OpenCard(path.data(), card);
}

// Libraries loaded from here on come from the system's folder only: not
// from the program's folder (where the card lies and may have unpacked
// files), nor from the current one. The imports are all known system
// libraries, which the loader takes from the system's folder anyway.
void SearchSystemFolderOnly() {
  using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
  const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  const auto setDefault = reinterpret_cast<SetDefaultDllDirectoriesFn>(
      reinterpret_cast<void*>(GetProcAddress(kernel, "SetDefaultDllDirectories")));
  if (setDefault) setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32);
  SetDllDirectoryW(L"");
}

// ---- Console modes ----

int List(OwnCard& card) {
  card::RecordHeader headers[card::kMaxRecords];
  uint32_t count = 0;
  const card::UnpackStatus status = card::ListRecords(*card.file, card.offset, headers, count);
  std::string lines;
  for (uint32_t i = 0; i < count; ++i) lines += headers[i].name + "\t" + std::to_string(headers[i].length) + "\r\n";
  Print(STD_OUTPUT_HANDLE, lines);
  if (status != card::UnpackStatus::kOk) {
    PrintError(LoadText(IDS_DAMAGED), card::UnpackStatusText(status));
    return kDamaged;
  }
  return kDone;
}

int Extract(OwnCard& card, std::wstring folder) {
  if (!folder.empty() && folder.back() != L'\\' && folder.back() != L'/') folder += L'\\';
  MakeFoldersFor(folder.c_str());
  FolderSink sink(folder);
  const card::UnpackStatus status = card::Unpack(*card.file, card.offset, sink);
  switch (status) {
    case card::UnpackStatus::kOk:
      return kDone;
    case card::UnpackStatus::kExists:
      // A sound card: the folder already holds a file of a record's name,
      // which is never replaced.
      PrintError(LoadText(IDS_EXISTS) + L" " + sink.path());
      return kFileThere;
    case card::UnpackStatus::kCannotCreate:
    case card::UnpackStatus::kWriteFailed:
      PrintError(LoadText(IDS_CANNOT_WRITE) + L" " + sink.path());
      return kCannotWrite;
    default:
      PrintError(LoadText(IDS_DAMAGED), card::UnpackStatusText(status));
      return kDamaged;
  }
}

// ---- Showing the card ----

// Keeps a record's bytes in memory, up to a limit. Room for them is taken
// at once; a record that cannot be held is refused, not a crash.
class HeldRecord final : public card::CardStream {
 public:
  explicit HeldRecord(uint32_t limit = 0xFFFFFFFFu) : m_limit(limit) {}
  bool Hold(uint32_t length) {
    try {
      m_bytes.reserve(std::min(length, m_limit));
      return true;
    } catch (const std::exception&) {
      return false;
    }
  }
  bool Read(void*, uint32_t, uint32_t& got) override {
    got = 0;
    return false;
  }
  bool Write(const void* data, uint32_t size) override {
    const size_t room = m_limit - std::min<size_t>(m_limit, m_bytes.size());
    const auto* bytes = static_cast<const uint8_t*>(data);
    try {
      m_bytes.insert(m_bytes.end(), bytes, bytes + std::min<size_t>(room, size));
    } catch (const std::exception&) {
      return false;
    }
    return true;
  }
  bool Seek(uint64_t) override { return false; }
  uint64_t Size() override { return m_bytes.size(); }
  const std::vector<uint8_t>& bytes() const { return m_bytes; }

 private:
  uint32_t m_limit;
  std::vector<uint8_t> m_bytes;
};

class HeldRecords final : public card::RecordSink {
 public:
  card::CardStream* Create(const card::RecordHeader& record, uint32_t index, bool&) override {
    headers[index] = record;
    count = index + 1;
    data[index] = HeldRecord(index == 0 ? 0xFFFFFFFFu : kNoteBytes);
    if (data[index].Hold(record.length)) return &data[index];
    tooLarge = true;
    return nullptr;
  }
  void Done(uint32_t, bool) override {}

  card::RecordHeader headers[card::kMaxRecords];
  HeldRecord data[card::kMaxRecords];
  uint32_t count = 0;
  bool tooLarge = false;  // a record could not be held in memory
};

// The second record's bytes as text, when they are text: no control
// characters but tab and line ends; UTF-8 when they are valid UTF-8, else
// the ANSI code page.
bool AsText(const std::vector<uint8_t>& bytes, std::wstring& text) {
  for (uint8_t b : bytes)
    if (b < 0x20 && b != '\t' && b != '\r' && b != '\n') return false;
  std::string_view view(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  if (view.substr(0, 3) == "\xEF\xBB\xBF") view.remove_prefix(3);
  if (!ToWide(CP_UTF8, view, text, true)) text = FromAnsi(view);
  return true;
}

struct Shown {
  std::vector<uint8_t> block;  // the decoded picture, a packed DIB
  dib::DibLayout layout;
  std::wstring title;
  std::wstring attached;  // "Attached file: name", or empty
  std::wstring note;      // the attached file's text, or empty
  int noteHeight = 0;     // pixels under the picture for the two
  HFONT font = nullptr;
};

// Where the picture goes in a client area: as large as fits above the
// note, aspect kept, centred.
RECT PictureRect(const Shown& shown, const RECT& client) {
  const int areaW = std::max<LONG>(1, client.right);
  const int areaH = std::max<LONG>(1, client.bottom - shown.noteHeight);
  const double scale = std::min(static_cast<double>(areaW) / shown.layout.width,
                                static_cast<double>(areaH) / shown.layout.height);
  const int w = std::max(1, static_cast<int>(shown.layout.width * scale + 0.5));
  const int h = std::max(1, static_cast<int>(shown.layout.height * scale + 0.5));
  RECT r;
  r.left = (areaW - w) / 2;
  r.top = (areaH - h) / 2;
  r.right = r.left + w;
  r.bottom = r.top + h;
  return r;
}

void Paint(HWND window, const Shown& shown) {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(window, &ps);
  RECT client;
  GetClientRect(window, &client);
  FillRect(dc, &client, GetSysColorBrush(COLOR_WINDOW));
  const RECT r = PictureRect(shown, client);
  SetStretchBltMode(dc, HALFTONE);
  SetBrushOrgEx(dc, 0, 0, nullptr);
  StretchDIBits(dc, r.left, r.top, r.right - r.left, r.bottom - r.top, 0, 0, shown.layout.width,
                shown.layout.height, shown.block.data() + shown.layout.pixelOffset,
                reinterpret_cast<const BITMAPINFO*>(shown.block.data()), DIB_RGB_COLORS, SRCCOPY);
  if (shown.noteHeight > 0) {
    HGDIOBJ old = SelectObject(dc, shown.font);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
    RECT text = {8, client.bottom - shown.noteHeight + 4, client.right - 8, client.bottom - 4};
    std::wstring all = shown.attached;
    if (!shown.note.empty()) all += L"\r\n" + shown.note;
    DrawTextW(dc, all.c_str(), static_cast<int>(all.size()), &text, DT_LEFT | DT_TOP | DT_WORDBREAK | DT_NOPREFIX | DT_END_ELLIPSIS);
    SelectObject(dc, old);
  }
  EndPaint(window, &ps);
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  const auto* shown = reinterpret_cast<const Shown*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  switch (message) {
    case WM_PAINT:
      if (shown) {
        Paint(window, *shown);
        return 0;
      }
      break;
    case WM_SIZE:
      InvalidateRect(window, nullptr, FALSE);
      return 0;
    case WM_KEYDOWN:
      if (wParam == VK_ESCAPE) DestroyWindow(window);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

// Height in pixels of the lines under the picture.
int NoteHeight(const Shown& shown) {
  if (shown.attached.empty()) return 0;
  WindowDc screen(GetDC(nullptr));
  HGDIOBJ old = SelectObject(screen.get(), shown.font);
  TEXTMETRICW metrics = {};
  GetTextMetricsW(screen.get(), &metrics);
  SelectObject(screen.get(), old);
  const int lines = 1 + (shown.note.empty() ? 0 : std::min<int>(kNoteLines, 1 + std::count(shown.note.begin(), shown.note.end(), L'\n')));
  return lines * (metrics.tmHeight + metrics.tmExternalLeading) + 8;
}

#ifdef QB_SHOWREEL_TEST
// Saves the client area as it is on the screen to a 24-bit BMP file and
// prints the window's title ("title NAME") and where the picture lies in
// the client area ("picture LEFT TOP RIGHT BOTTOM").
bool SaveSnapshot(HWND window, const Shown& shown, const std::wstring& path) {
  RECT client;
  GetClientRect(window, &client);
  POINT origin = {0, 0};
  ClientToScreen(window, &origin);
  const int w = client.right, h = client.bottom;
  if (w <= 0 || h <= 0) return false;
  WindowDc screen(GetDC(nullptr));
  MemoryDc memory(CreateCompatibleDC(screen.get()));
  if (!memory) return false;
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = w;
  info.bmiHeader.biHeight = h;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  void* bits = nullptr;
  UniqueGdi<HBITMAP> bitmap(CreateDIBSection(screen.get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
  bool ok = false;
  if (bitmap) {
    SelectedObject selected(memory.get(), bitmap.get());
    ok = selected && BitBlt(memory.get(), 0, 0, w, h, screen.get(), origin.x, origin.y, SRCCOPY) != 0;
    GdiFlush();
  }
  if (!ok) return false;
  const uint32_t stride = *dib::RowStride(24, w);
  const uint32_t imageBytes = stride * static_cast<uint32_t>(h);
  BITMAPFILEHEADER file = {};
  file.bfType = 0x4D42;
  file.bfOffBits = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER);
  file.bfSize = file.bfOffBits + imageBytes;
  info.bmiHeader.biSizeImage = imageBytes;
  CardFile out(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!out.ok() || !out.Write(&file, sizeof file) || !out.Write(&info.bmiHeader, sizeof(BITMAPINFOHEADER)) ||
      !out.Write(bits, imageBytes))
    return false;
  wchar_t title[MAX_PATH] = {};
  GetWindowTextW(window, title, MAX_PATH);
  const RECT r = PictureRect(shown, client);
  Print(STD_OUTPUT_HANDLE, "title " + ToAnsi(title) + "\r\n");
  Print(STD_OUTPUT_HANDLE, "picture " + std::to_string(r.left) + " " + std::to_string(r.top) + " " +
                               std::to_string(r.right) + " " + std::to_string(r.bottom) + "\r\n");
  return true;
}
#endif

// Tells the user why the card cannot be shown: in a message box, or on
// standard error when a test build saves a snapshot instead.
void TellDamaged(const std::wstring& text, const char* reason, bool toConsole) {
  if (toConsole) {
    PrintError(text, reason);
    return;
  }
  std::wstring shown = text;
  if (reason) shown += L"\n" + FromAnsi(reason);
  MessageBoxW(nullptr, shown.c_str(), L"Showreel", MB_OK | MB_ICONERROR | MB_SETFOREGROUND);
}

// The name of a picture's format for a message: the codec's own name when
// the content matches one, otherwise the record name's extension in capitals
// ("JXL"), or "unknown" when the name has none.
std::string FormatName(const std::vector<uint8_t>& picture, const std::string& name) {
  if (const rastrum::Codec* codec = rastrum::CodecOf(rastrum::DetectFormat(picture))) return codec->name;
  const size_t dot = name.find_last_of('.');
  if (dot == std::string::npos || dot + 1 == name.size() || name.find_first_of("\\/", dot) != std::string::npos)
    return "unknown";
  std::string ext = name.substr(dot + 1);
  for (char& c : ext)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return ext;
}

int ShowCard(OwnCard& card, const wchar_t* snapshot) {
  // The player runs from wherever a card was put: it carries no HEIC or
  // AVIF decoder and must not take one from the card's folder.
  rastrum::ForbidLoadingHeifLibrary();
  // Records sit in memory while the card is shown; one that cannot be held
  // makes the card one that cannot be shown.
  auto records = std::make_unique<HeldRecords>();
  const card::UnpackStatus status = card::Unpack(*card.file, card.offset, *records);
  if (status != card::UnpackStatus::kOk || records->count == 0) {
    const bool memory = records->tooLarge || status == card::UnpackStatus::kWriteFailed;
    TellDamaged(LoadText(IDS_DAMAGED), memory ? "a record is too large to be held in memory" : card::UnpackStatusText(status),
                snapshot != nullptr);
    return kDamaged;
  }
  Shown shown;
  rastrum::VectorAllocator decoded;
  const std::vector<uint8_t>& picture = records->data[0].bytes();
  int decodeResult = rastrum::kCorruptData;
  try {
    decodeResult = rastrum::DecodeImage(picture, decoded);
    if (decodeResult == rastrum::kOk &&
        dib::Validate(decoded.block, dib::kAllDepths, shown.layout) != dib::DibStatus::kOk)
      decodeResult = rastrum::kCorruptData;
    // StretchDIBits ignores alpha: a picture with alpha is shown as it
    // looks on white.
    if (decodeResult == rastrum::kOk && dib::CarriesAlpha(decoded.block, shown.layout)) {
      std::vector<uint8_t> flat(*dib::Converted24Size(shown.layout));
      if (!dib::ConvertTo24(decoded.block, shown.layout, flat, dib::AlphaRule::kFlattenOntoWhite) ||
          dib::Validate(flat, dib::kAllDepths, shown.layout) != dib::DibStatus::kOk)
        decodeResult = rastrum::kCorruptData;
      decoded.block = std::move(flat);
    }
  } catch (const std::exception&) {
    decodeResult = rastrum::kOutOfMemory;
  }
  if (decodeResult != rastrum::kOk) {
    // A format this player carries no code for is named, so that the user
    // knows to open the picture elsewhere; anything else is a bad picture.
    if (decodeResult == rastrum::kUnknownFormat || decodeResult == rastrum::kNotAvailable ||
        decodeResult == rastrum::kDecoderMissing) {
      const std::string format = FormatName(picture, records->headers[0].name);
      TellDamaged(LoadText(IDS_CANNOT_SHOW) + L" " + FromAnsi(format), nullptr, snapshot != nullptr);
    } else {
      TellDamaged(LoadText(IDS_BAD_PICTURE), nullptr, snapshot != nullptr);
    }
    return kDamaged;
  }
  shown.block = std::move(decoded.block);
  shown.title = FromAnsi(records->headers[0].name);
  if (records->count > 1) {
    shown.attached = LoadText(IDS_ATTACHED) + L" " + FromAnsi(records->headers[1].name);
    AsText(records->data[1].bytes(), shown.note);
  }
  records.reset();
  shown.font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
  shown.noteHeight = NoteHeight(shown);

  WNDCLASSEXW windowClass = {};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = WindowProc;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  windowClass.hIcon = LoadIconW(nullptr, reinterpret_cast<LPCWSTR>(IDI_APPLICATION));
  windowClass.lpszClassName = kWindowClass;
  RegisterClassExW(&windowClass);

  // The largest client area that fits the work area with the frame around
  // it; the picture is shrunk (never enlarged) to fit, aspect kept.
  const DWORD style = WS_OVERLAPPEDWINDOW;
  RECT work = {0, 0, 1024, 768};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  RECT frame = {0, 0, 0, 0};
  AdjustWindowRectEx(&frame, style, FALSE, 0);
  const int frameW = frame.right - frame.left, frameH = frame.bottom - frame.top;
  const int maxW = std::max<int>(1, work.right - work.left - frameW);
  const int maxH = std::max<int>(1, work.bottom - work.top - frameH - shown.noteHeight);
  const double scale = std::min({1.0, static_cast<double>(maxW) / shown.layout.width,
                                 static_cast<double>(maxH) / shown.layout.height});
  const int clientW = std::max(1, static_cast<int>(shown.layout.width * scale + 0.5));
  const int clientH = std::max(1, static_cast<int>(shown.layout.height * scale + 0.5)) + shown.noteHeight;
  const int windowW = clientW + frameW, windowH = clientH + frameH;
  const int x = work.left + std::max(0, (static_cast<int>(work.right - work.left) - windowW) / 2);
  const int y = work.top + std::max(0, (static_cast<int>(work.bottom - work.top) - windowH) / 2);

  HWND window = CreateWindowExW(0, kWindowClass, shown.title.c_str(), style, x, y, windowW, windowH, nullptr,
                                nullptr, GetModuleHandleW(nullptr), &shown);
  if (!window) return kDamaged;
  ShowWindow(window, SW_SHOWNORMAL);
  SetForegroundWindow(window);
  UpdateWindow(window);

#ifdef QB_SHOWREEL_TEST
  if (snapshot) {
    // Let the window reach the screen, then save what the screen shows.
    const DWORD until = GetTickCount() + 1500;
    MSG msg;
    while (GetTickCount() < until) {
      while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
      }
      Sleep(20);
    }
    const bool saved = SaveSnapshot(window, shown, snapshot);
    DestroyWindow(window);
    return saved ? kDone : kCannotWrite;
  }
#endif
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return kDone;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  SearchSystemFolderOnly();
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  std::vector<std::wstring> args(argv ? argv + 1 : nullptr, argv ? argv + argc : nullptr);
  if (argv) LocalFree(argv);
  auto is = [&](size_t i, const wchar_t* name) { return i < args.size() && lstrcmpiW(args[i].c_str(), name) == 0; };
  const bool list = is(0, L"/list");
  const bool extract = is(0, L"/extract");
#ifdef QB_SHOWREEL_TEST
  const bool snapshot = is(0, L"/snapshot");
#else
  const bool snapshot = false;
#endif
  const bool console = list || extract || snapshot;
  const size_t wanted = list ? 1u : extract ? 2u : 3u;
  if ((console && args.size() != wanted) || (!console && !args.empty())) {
    PrintError(LoadText(IDS_USAGE));
    return kUsage;
  }

  OwnCard card;
  if (snapshot ? !OpenCard(args[1].c_str(), card) : !OpenOwnCard(card)) {
    if (console) PrintError(LoadText(IDS_NO_CARD));
    else MessageBoxW(nullptr, LoadText(IDS_NO_CARD).c_str(), L"Showreel", MB_OK | MB_ICONINFORMATION | MB_SETFOREGROUND);
    return kNoCard;
  }
  if (list) return List(card);
  if (extract) return Extract(card, args[1]);
  return ShowCard(card, snapshot ? args[2].c_str() : nullptr);
}
