// ExportToCard through its vtable and the card player as a program, on real
// files in a scratch folder.
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "test_support.h"

using namespace qbtest;

namespace {

using Bytes = std::string;
constexpr HRESULT kUnpackFailed = static_cast<HRESULT>(0xFFFFFFFD);

Bytes ReadAll(const std::wstring& path) {
  Bytes bytes;
  HANDLE f = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (f == INVALID_HANDLE_VALUE) return bytes;
  bytes.resize(GetFileSize(f, nullptr));
  DWORD n = 0;
  ReadFile(f, bytes.data(), static_cast<DWORD>(bytes.size()), &n, nullptr);
  CloseHandle(f);
  return bytes;
}

void WriteAll(const std::wstring& path, const Bytes& bytes) {
  HANDLE f = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, f) << "writing a test file";
  DWORD n = 0;
  WriteFile(f, bytes.data(), static_cast<DWORD>(bytes.size()), &n, nullptr);
  CloseHandle(f);
}

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

Bytes U32(uint32_t v) {
  Bytes s(4, '\0');
  for (int i = 0; i < 4; ++i) s[i] = static_cast<char>(v >> (8 * i));
  return s;
}
Bytes Field(const std::string& name) {
  Bytes f = name;
  f.resize(255, '\0');
  return f;
}
Bytes Record(const std::string& name, const Bytes& data) {
  return Field(name) + U32(static_cast<uint32_t>(data.size())) + data;
}
Bytes Trailer(uint32_t offset) { return U32(offset) + Bytes("Compressed", 11); }

Bytes Pattern(size_t n, int seed) {
  Bytes b(n, '\0');
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<char>((i * 31 + seed * 7 + (i >> 8)) & 0xFF);
  return b;
}

std::wstring PlayerPath() { return BuildFile(L"Showreel.EXE"); }


ComPtr<IExportToCard> NewExporter() { return Make<IExportToCard>(CLSID_ExportToCard); }

// The current folder for the length of a scope.
class InFolder {
 public:
  explicit InFolder(const std::wstring& dir) {
    GetCurrentDirectoryW(MAX_PATH, m_old);
    SetCurrentDirectoryW(dir.c_str());
  }
  ~InFolder() { SetCurrentDirectoryW(m_old); }

 private:
  wchar_t m_old[MAX_PATH];
};

// Runs a program to its end, in `folder` when one is given; its standard
// output (and its standard error too, when asked) is captured.
DWORD RunProgram(const std::wstring& commandLine, std::string* output = nullptr, bool withErrors = false,
                 const std::wstring& folder = {}) {
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  HANDLE readEnd = nullptr, writeEnd = nullptr;
  CreatePipe(&readEnd, &writeEnd, &inherit, 0);
  SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
  HANDLE null = CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                            OPEN_EXISTING, 0, nullptr);
  STARTUPINFOW start = {};
  start.cb = sizeof start;
  start.dwFlags = STARTF_USESTDHANDLES;
  start.hStdInput = null;
  start.hStdOutput = writeEnd;
  start.hStdError = withErrors ? writeEnd : null;
  PROCESS_INFORMATION process = {};
  std::wstring line = commandLine;
  const BOOL started = CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                      folder.empty() ? nullptr : folder.c_str(), &start, &process);
  CloseHandle(writeEnd);
  CloseHandle(null);
  std::string out;
  DWORD code = 0xFFFFFFFF;
  if (started) {
    char buffer[4096];
    DWORD n = 0;
    while (ReadFile(readEnd, buffer, sizeof buffer, &n, nullptr) && n > 0) out.append(buffer, n);
    WaitForSingleObject(process.hProcess, INFINITE);
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
  }
  CloseHandle(readEnd);
  if (output) *output = out;
  return code;
}

std::wstring Quoted(const std::wstring& s) { return L"\"" + s + L"\""; }

std::wstring ForwardSlashes(std::wstring path) {
  for (wchar_t& c : path)
    if (c == L'\\') c = L'/';
  return path;
}

std::wstring ShortForm(const std::wstring& path) {
  wchar_t buffer[MAX_PATH];
  const DWORD n = GetShortPathNameW(path.c_str(), buffer, MAX_PATH);
  return n > 0 && n < MAX_PATH ? std::wstring(buffer, n) : std::wstring();
}

// The ANSI spelling of a name, when the code page spells it exactly.
bool ExactAnsiName(const std::wstring& name, std::string& narrow) {
  BOOL lossy = FALSE;
  const int n = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, name.c_str(), -1, nullptr, 0, nullptr, &lossy);
  if (n <= 0 || lossy) return false;
  narrow.resize(n);
  WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, name.c_str(), -1, narrow.data(), n, nullptr, nullptr);
  narrow.resize(n - 1);
  return true;
}

}  // namespace

TEST(ExportToCard, CardIsThePlayerAndTheTwoFilesByteForByte) {
  ScratchFolder scratch(L"quillbox-card-");
  const Bytes player = ReadAll(PlayerPath());
  ASSERT_GT(player.size(), 1000u) << "the built player";
  const Bytes a = Pattern(3000, 1), b = "A short note.\r\n";
  WriteAll(scratch.Path(L"photo.jpg"), a);
  WriteAll(scratch.Path(L"note.txt"), b);
  // Folders that do not exist yet are made.
  const std::wstring card = scratch.Path(L"new\\deeper\\card.exe");
  ComPtr<IExportToCard> exporter = NewExporter();
  ASSERT_EQ(S_OK, exporter->PackCard(Bstr(scratch.Path(L"photo.jpg")), Bstr(scratch.Path(L"note.txt")), Bstr(card)));
  const Bytes got = ReadAll(card);
  const uint32_t p = static_cast<uint32_t>(player.size());
  EXPECT_EQ(player.size() + 4 + 518 + a.size() + b.size() + 15, got.size());
  EXPECT_TRUE(got == player + U32(2) + Record("photo.jpg", a) + Record("note.txt", b) + Trailer(p));

  // An existing destination is replaced.
  WriteAll(scratch.Path(L"small.bin"), "xy");
  ASSERT_EQ(S_OK, exporter->PackCard(Bstr(scratch.Path(L"small.bin")), Bstr(scratch.Path(L"note.txt")), Bstr(card)));
  EXPECT_TRUE(ReadAll(card) == player + U32(2) + Record("small.bin", "xy") + Record("note.txt", b) + Trailer(p));
  EXPECT_EQ(S_OK, exporter->Prepare());
}

TEST(ExportToCard, NamesAreWhatFollowsTheLastBackslash) {
  ScratchFolder scratch(L"quillbox-card-");
  const Bytes player = ReadAll(PlayerPath());
  const uint32_t p = static_cast<uint32_t>(player.size());
  WriteAll(scratch.Path(L"a.bin"), "aaa");
  WriteAll(scratch.Path(L"b.bin"), "bb");
  ComPtr<IExportToCard> exporter = NewExporter();
  {
    // A picture path without a backslash is a name in the current folder.
    InFolder here(scratch.dir());
    ASSERT_EQ(S_OK, exporter->PackCard(Bstr(L"a.bin"), Bstr(L"b.bin"), Bstr(L"plain.exe")));
  }
  EXPECT_TRUE(ReadAll(scratch.Path(L"plain.exe")) == player + U32(2) + Record("a.bin", "aaa") + Record("b.bin", "bb") + Trailer(p));

  // Forward slashes are separators too, as Windows takes them: the name is
  // what follows the last one, and the card unpacks.
  const std::wstring forward = ForwardSlashes(scratch.Path(L"a.bin"));
  ASSERT_EQ(S_OK, exporter->PackCard(Bstr(forward), Bstr(scratch.Path(L"b.bin")), Bstr(scratch.Path(L"out\\fwd.exe"))));
  EXPECT_TRUE(ReadAll(scratch.Path(L"out\\fwd.exe")) ==
              player + U32(2) + Record("a.bin", "aaa") + Record("b.bin", "bb") + Trailer(p));
  EXPECT_EQ(S_OK, exporter->UnpackCard(Bstr(scratch.Path(L"out\\fwd.exe"))));
  EXPECT_EQ("aaa", ReadAll(scratch.Path(L"out\\a.bin")));
}

TEST(ExportToCard, OneRecordCardWithoutAnExtraFile) {
  ScratchFolder scratch(L"quillbox-card-");
  const Bytes player = ReadAll(PlayerPath());
  WriteAll(scratch.Path(L"a.bin"), "abc");
  ComPtr<IExportToCard> exporter = NewExporter();
  for (BSTR extra : {static_cast<BSTR>(nullptr), static_cast<BSTR>(Bstr(L""))}) {
    const std::wstring card = scratch.Path(L"one\\card.exe");
    ASSERT_EQ(S_OK, exporter->PackCard(Bstr(scratch.Path(L"a.bin")), extra, Bstr(card)));
    EXPECT_TRUE(ReadAll(card) == player + U32(1) + Record("a.bin", "abc") + Trailer(static_cast<uint32_t>(player.size())));
    EXPECT_EQ(S_OK, NewExporter()->UnpackCard(Bstr(card)));
    EXPECT_EQ("abc", ReadAll(scratch.Path(L"one\\a.bin")));
    EXPECT_EQ(2u, ScratchFolder::Names(scratch.Path(L"one")).size());
    DeleteFileW(scratch.Path(L"one\\a.bin").c_str());
  }
}

TEST(ExportToCard, PackFailsAndRemovesTheCardForWhatCannotBePacked) {
  ScratchFolder scratch(L"quillbox-card-");
  WriteAll(scratch.Path(L"a.bin"), "abc");
  const std::wstring longName = scratch.Path(std::wstring(251, L'n') + L".txt");  // 255 bytes
  WriteAll(longName, "x");
  // A file locked by another handle without sharing cannot be opened.
  WriteAll(scratch.Path(L"locked.bin"), "l");
  HANDLE lock = CreateFileW(scratch.Path(L"locked.bin").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  struct Case {
    const wchar_t* what;
    std::wstring picture, extra;
  } cases[] = {
      {L"missing extra file", scratch.Path(L"a.bin"), scratch.Path(L"missing.txt")},
      {L"missing picture", scratch.Path(L"missing.jpg"), scratch.Path(L"a.bin")},
      {L"empty picture path", L"", scratch.Path(L"a.bin")},
      {L"name too long for its field", scratch.Path(L"a.bin"), longName},
      {L"locked file", scratch.Path(L"a.bin"), scratch.Path(L"locked.bin")},
      {L"a folder", scratch.Path(L"a.bin"), scratch.dir()},
  };
  ComPtr<IExportToCard> exporter = NewExporter();
  for (const Case& c : cases) {
    const std::wstring card = scratch.Path(L"failed.exe");
    EXPECT_EQ(E_FAIL, exporter->PackCard(Bstr(c.picture), Bstr(c.extra), Bstr(card))) << c.what;
    EXPECT_FALSE(Exists(card)) << c.what << ": the incomplete card is removed";
  }
  CloseHandle(lock);
}

TEST(ExportToCard, FileOfFourGigabytesIsRefused) {
  ScratchFolder scratch(L"quillbox-card-");
  // A sparse file: its length is 4 GiB, nothing is written.
  HANDLE f = CreateFileW(scratch.Path(L"huge.bin").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, f);
  LARGE_INTEGER size;
  size.QuadPart = 0x100000000ll;
  ASSERT_TRUE(SetFilePointerEx(f, size, nullptr, FILE_BEGIN));
  ASSERT_TRUE(SetEndOfFile(f));
  CloseHandle(f);
  WriteAll(scratch.Path(L"a.bin"), "abc");
  ComPtr<IExportToCard> exporter = NewExporter();
  EXPECT_EQ(E_FAIL, exporter->PackCard(Bstr(scratch.Path(L"a.bin")), Bstr(scratch.Path(L"huge.bin")), Bstr(scratch.Path(L"c.exe"))));
  EXPECT_FALSE(Exists(scratch.Path(L"c.exe")));
}

TEST(ExportToCard, UnpackWritesBothFilesBesideTheCard) {
  ScratchFolder scratch(L"quillbox-card-");
  const Bytes a = Pattern(200000, 2), b = Pattern(777, 3);
  WriteAll(scratch.Path(L"photo.jpg"), a);
  WriteAll(scratch.Path(L"note.txt"), b);
  ComPtr<IExportToCard> packer = NewExporter();
  const std::wstring card = scratch.Path(L"cards\\card.exe");
  ASSERT_EQ(S_OK, packer->PackCard(Bstr(scratch.Path(L"photo.jpg")), Bstr(scratch.Path(L"note.txt")), Bstr(card)));
  const Bytes packed = ReadAll(card);

  // Into the card's folder, by the object that packed it and by a fresh one
  // (which finds the container through the trailer).
  for (int fresh = 0; fresh < 2; ++fresh) {
    const std::wstring dir = scratch.Folder(fresh ? L"fresh" : L"same");
    WriteAll(dir + L"\\card.exe", packed);
    ComPtr<IExportToCard> unpacker = fresh ? NewExporter() : packer;
    EXPECT_EQ(S_OK, unpacker->UnpackCard(Bstr(dir + L"\\card.exe"))) << fresh;
    EXPECT_TRUE(ReadAll(dir + L"\\photo.jpg") == a) << fresh;
    EXPECT_TRUE(ReadAll(dir + L"\\note.txt") == b) << fresh;
  }

  // A card path without a backslash unpacks into the current folder.
  const std::wstring here = scratch.Folder(L"here");
  WriteAll(here + L"\\card.exe", packed);
  {
    InFolder in(here);
    EXPECT_EQ(S_OK, NewExporter()->UnpackCard(Bstr(L"card.exe")));
  }
  EXPECT_TRUE(ReadAll(here + L"\\photo.jpg") == a);
  EXPECT_TRUE(ReadAll(here + L"\\note.txt") == b);

  // A missing card: S_OK, nothing made.
  EXPECT_EQ(S_OK, packer->UnpackCard(Bstr(scratch.Path(L"gone\\card.exe"))));
  EXPECT_FALSE(Exists(scratch.Path(L"gone")));

  // A changed trailer still unpacks on the object that packed, which knows
  // the offset; a fresh object has no container to find.
  Bytes changed = packed;
  std::memcpy(&changed[changed.size() - 15], "\x01\x02\x03\x04Xompressed", 15);
  const std::wstring changedDir = scratch.Folder(L"changed");
  WriteAll(changedDir + L"\\card.exe", changed);
  EXPECT_EQ(kUnpackFailed, NewExporter()->UnpackCard(Bstr(changedDir + L"\\card.exe")));
  EXPECT_EQ(1u, ScratchFolder::Names(changedDir).size());
  EXPECT_EQ(S_OK, packer->UnpackCard(Bstr(changedDir + L"\\card.exe")));
  EXPECT_TRUE(ReadAll(changedDir + L"\\photo.jpg") == a);
  EXPECT_TRUE(ReadAll(changedDir + L"\\note.txt") == b);
}

TEST(ExportToCard, UnpackNeverReplacesAFile) {
  ScratchFolder scratch(L"quillbox-card-");
  WriteAll(scratch.Path(L"photo.jpg"), "PHOTO");
  WriteAll(scratch.Path(L"note.txt"), "NOTE");
  ComPtr<IExportToCard> exporter = NewExporter();
  ASSERT_EQ(S_OK, exporter->PackCard(Bstr(scratch.Path(L"photo.jpg")), Bstr(scratch.Path(L"note.txt")),
                                     Bstr(scratch.Path(L"first\\card.exe"))));
  const Bytes packed = ReadAll(scratch.Path(L"first\\card.exe"));
  // The first record's file exists: nothing extracted, the file unchanged.
  WriteAll(scratch.Path(L"first\\photo.jpg"), "mine");
  EXPECT_EQ(kUnpackFailed, exporter->UnpackCard(Bstr(scratch.Path(L"first\\card.exe"))));
  EXPECT_EQ("mine", ReadAll(scratch.Path(L"first\\photo.jpg")));
  EXPECT_FALSE(Exists(scratch.Path(L"first\\note.txt")));
  // Only the second exists: the first is extracted.
  scratch.Folder(L"second");
  WriteAll(scratch.Path(L"second\\card.exe"), packed);
  WriteAll(scratch.Path(L"second\\note.txt"), "mine");
  EXPECT_EQ(kUnpackFailed, exporter->UnpackCard(Bstr(scratch.Path(L"second\\card.exe"))));
  EXPECT_EQ("PHOTO", ReadAll(scratch.Path(L"second\\photo.jpg")));
  EXPECT_EQ("mine", ReadAll(scratch.Path(L"second\\note.txt")));
}

TEST(ExportToCard, CardCutShortInsideData) {
  ScratchFolder scratch(L"quillbox-card-");
  const Bytes a = Pattern(100000, 5);
  WriteAll(scratch.Path(L"photo.jpg"), a);
  WriteAll(scratch.Path(L"note.txt"), "NOTE");
  ComPtr<IExportToCard> exporter = NewExporter();
  ASSERT_EQ(S_OK, exporter->PackCard(Bstr(scratch.Path(L"photo.jpg")), Bstr(scratch.Path(L"note.txt")),
                                     Bstr(scratch.Path(L"cut\\card.exe"))));
  const Bytes packed = ReadAll(scratch.Path(L"cut\\card.exe"));
  const size_t present = 30000;
  const size_t p = packed.size() - (4 + 518 + a.size() + 4 + 15);
  WriteAll(scratch.Path(L"cut\\card.exe"), packed.substr(0, p + 4 + 259 + present));
  // The damage is reported; the record keeps its declared length, zero
  // beyond the bytes that were there.
  EXPECT_EQ(kUnpackFailed, exporter->UnpackCard(Bstr(scratch.Path(L"cut\\card.exe"))));
  EXPECT_TRUE(ReadAll(scratch.Path(L"cut\\photo.jpg")) == a.substr(0, present) + Bytes(a.size() - present, '\0'));
  EXPECT_FALSE(Exists(scratch.Path(L"cut\\note.txt")));
}

TEST(ExportToCard, HostileCardsWriteNothingOutsideTheirFolder) {
  ScratchFolder scratch(L"quillbox-card-");
  const Bytes player = ReadAll(PlayerPath());
  const uint32_t p = static_cast<uint32_t>(player.size());
  struct Case {
    const char* what;
    Bytes container;
  } cases[] = {
      {"parent folder", U32(2) + Record("..\\evil.txt", "x") + Record("b.txt", "y")},
      {"parent folder, second", U32(2) + Record("a.txt", "x") + Record("..\\evil.txt", "y")},
      {"drive", U32(2) + Record("C:evil.txt", "x") + Record("b.txt", "y")},
      {"drive and root", U32(2) + Record("C:\\evil.txt", "x") + Record("b.txt", "y")},
      {"separator", U32(2) + Record("sub\\evil.txt", "x") + Record("b.txt", "y")},
      {"forward separator", U32(2) + Record("../evil.txt", "x") + Record("b.txt", "y")},
      {"length 0xFFFFFFFF", U32(2) + Field("evil.txt") + U32(0xFFFFFFFFu) + "xyz"},
      {"count 0", U32(0) + Record("evil.txt", "x") + Record("b.txt", "y")},
      {"count 1000", U32(1000) + Record("evil.txt", "x") + Record("b.txt", "y")},
  };
  for (const Case& c : cases) {
    const std::wstring dir = scratch.Folder(L"hostile");
    WriteAll(dir + L"\\card.exe", player + c.container + Trailer(p));
    EXPECT_EQ(kUnpackFailed, NewExporter()->UnpackCard(Bstr(dir + L"\\card.exe"))) << c.what;
    // The player run with /extract refuses the same card.
    EXPECT_EQ(2u, RunProgram(Quoted(dir + L"\\card.exe") + L" /extract " + Quoted(scratch.Path(L"player-out")))) << c.what;
    for (const std::wstring& name : ScratchFolder::Names(dir))
      EXPECT_TRUE(name == L"card.exe" || name == L"a.txt") << c.what << ": wrote a file";
    EXPECT_FALSE(Exists(scratch.Path(L"evil.txt"))) << c.what;
    EXPECT_FALSE(Exists(dir + L"\\sub")) << c.what;
    for (const std::wstring& name : ScratchFolder::Names(scratch.Path(L"player-out")))
      EXPECT_EQ(L"a.txt", name) << c.what;
    EXPECT_FALSE(Exists(L"C:\\evil.txt")) << c.what;
    EXPECT_FALSE(Exists(L"C:evil.txt")) << c.what;
    for (const std::wstring& d : {dir, scratch.Path(L"player-out")})
      for (const std::wstring& name : ScratchFolder::Names(d))
        if (name != L"card.exe") DeleteFileW((d + L"\\" + name).c_str());
  }
}

// A card runs from wherever it was saved, beside whatever lies there: the
// player imports only libraries that the system always loads from its own
// folder (KnownDLLs), never one a file beside the card could stand in for.
TEST(Showreel, ImportsOnlyKnownSystemLibraries) {
  HMODULE player = LoadLibraryExW(PlayerPath().c_str(), nullptr, DONT_RESOLVE_DLL_REFERENCES);
  ASSERT_NE(nullptr, player);
  const PeDirectories pe = ReadPeDirectories(player);
  const std::set<std::string> allowed = {"kernel32.dll", "user32.dll",   "gdi32.dll",   "msvcrt.dll",
                                         "shell32.dll",  "advapi32.dll", "ole32.dll",   "oleaut32.dll",
                                         "comdlg32.dll", "shlwapi.dll",  "imm32.dll",   "rpcrt4.dll",
                                         "ws2_32.dll",   "psapi.dll",    "setupapi.dll"};
  EXPECT_FALSE(pe.imports.empty());
  for (const auto& [library, functions] : pe.imports) {
    std::string name = library;
    for (char& ch : name) ch = static_cast<char>(tolower(static_cast<unsigned char>(ch)));
    EXPECT_TRUE(allowed.count(name)) << "unexpected import " << name;
  }
  FreeLibrary(player);
}

TEST(Showreel, ListAndExtractAgreeWithUnpackCard) {
  ScratchFolder scratch(L"quillbox-card-");
  const Bytes a = Pattern(150000, 7), b = "Text under the picture.\r\n";
  WriteAll(scratch.Path(L"photo.jpg"), a);
  WriteAll(scratch.Path(L"note.txt"), b);
  ComPtr<IExportToCard> exporter = NewExporter();
  const std::wstring card = scratch.Path(L"byobject\\card.exe");
  ASSERT_EQ(S_OK, exporter->PackCard(Bstr(scratch.Path(L"photo.jpg")), Bstr(scratch.Path(L"note.txt")), Bstr(card)));
  std::string listed;
  EXPECT_EQ(0u, RunProgram(Quoted(card) + L" /list", &listed));
  EXPECT_EQ("photo.jpg\t150000\r\nnote.txt\t25\r\n", listed);
  EXPECT_EQ(0u, RunProgram(Quoted(card) + L" /extract " + Quoted(scratch.Path(L"byplayer\\made"))));
  EXPECT_EQ(S_OK, exporter->UnpackCard(Bstr(card)));
  for (const wchar_t* name : {L"photo.jpg", L"note.txt"}) {
    const Bytes byObject = ReadAll(scratch.Path(L"byobject\\") + name);
    EXPECT_FALSE(byObject.empty());
    EXPECT_TRUE(byObject == ReadAll(scratch.Path(L"byplayer\\made\\") + name)) << name;
  }
  // Extracting again never replaces the files, and says why: a sound card
  // is not called damaged.
  std::string told;
  EXPECT_EQ(6u, RunProgram(Quoted(card) + L" /extract " + Quoted(scratch.Path(L"byplayer\\made")), &told, true));
  EXPECT_NE(std::string::npos, told.find("already in the folder")) << told;
  EXPECT_NE(std::string::npos, told.find("photo.jpg")) << told;
  EXPECT_EQ(std::string::npos, told.find("damaged")) << told;
  EXPECT_TRUE(ReadAll(scratch.Path(L"byplayer\\made\\photo.jpg")) == a);
  // The bare player and a damaged card say so with their exit codes.
  EXPECT_EQ(1u, RunProgram(Quoted(PlayerPath()) + L" /list"));
  const Bytes packed = ReadAll(card);
  WriteAll(scratch.Path(L"cut.exe"), packed.substr(0, packed.size() - 100));
  EXPECT_EQ(1u, RunProgram(Quoted(scratch.Path(L"cut.exe")) + L" /list")) << "no trailer: not a card";
  Bytes badCount = packed;
  badCount.replace(packed.size() - (4 + 518 + a.size() + b.size() + 15), 4, U32(7));
  WriteAll(scratch.Path(L"count.exe"), badCount);
  EXPECT_EQ(2u, RunProgram(Quoted(scratch.Path(L"count.exe")) + L" /list"));
  EXPECT_EQ(4u, RunProgram(Quoted(card) + L" /extract"));
}

namespace {

// Collects the lines the thread sends to the debugger while it lives: each
// OutputDebugString raises a print exception that a vectored handler sees
// first (wide where the system raises the wide form, else narrow).
class DebuggerLines {
 public:
  DebuggerLines() {
    s_lines = &m_lines;
    m_handler = AddVectoredExceptionHandler(1, &DebuggerLines::Handler);
  }
  ~DebuggerLines() {
    RemoveVectoredExceptionHandler(m_handler);
    s_lines = nullptr;
  }
  const std::vector<std::wstring>& lines() const { return m_lines; }

 private:
  static LONG CALLBACK Handler(EXCEPTION_POINTERS* info) {
    const EXCEPTION_RECORD* r = info->ExceptionRecord;
    if (!s_lines || r->NumberParameters < 2) return EXCEPTION_CONTINUE_SEARCH;
    if (r->ExceptionCode == 0x4001000A) {  // DBG_PRINTEXCEPTION_WIDE_C
      const auto* text = reinterpret_cast<const wchar_t*>(r->ExceptionInformation[1]);
      s_lines->push_back(std::wstring(text, r->ExceptionInformation[0] ? r->ExceptionInformation[0] - 1 : 0));
      return EXCEPTION_CONTINUE_EXECUTION;
    }
    if (r->ExceptionCode == DBG_PRINTEXCEPTION_C) {
      const auto* text = reinterpret_cast<const char*>(r->ExceptionInformation[1]);
      const std::string narrow(text, r->ExceptionInformation[0] ? r->ExceptionInformation[0] - 1 : 0);
      s_lines->push_back(std::wstring(narrow.begin(), narrow.end()));
      return EXCEPTION_CONTINUE_EXECUTION;
    }
    return EXCEPTION_CONTINUE_SEARCH;
  }
  static inline std::vector<std::wstring>* s_lines = nullptr;
  std::vector<std::wstring> m_lines;
  void* m_handler;
};

}  // namespace

TEST(ExportToCard, DebugLinesInTheirOrder) {
  ScratchFolder scratch(L"quillbox-card-");
  WriteAll(scratch.Path(L"a.bin"), "a");
  WriteAll(scratch.Path(L"b.txt"), "b");
  const std::wstring pic = scratch.Path(L"a.bin"), extra = scratch.Path(L"b.txt"), dest = scratch.Path(L"d\\card.exe");
  const std::wstring player = PlayerPath();
  const std::wstring dir = player.substr(0, player.rfind(L'\\') + 1);
  ComPtr<IExportToCard> exporter = NewExporter();
  {
    DebuggerLines debug;
    ASSERT_EQ(S_OK, exporter->PackCard(Bstr(pic), Bstr(extra), Bstr(dest)));
    const std::vector<std::wstring> expected = {
        L"\n", L"sDestPath is:", L"\n", dest, L"\n",   L"\n", L"sPicPath is:", L"\n", pic,  L"\n",
        L"\n", L"sDllDir is:",   dir,   L"\n",         L"\n", player,          L"\n",
        L"\n", player,           L"\n", dest,          L"\n"};
    EXPECT_EQ(expected, debug.lines());
  }
  const std::wstring folder = scratch.Path(L"d\\");
  {
    DebuggerLines debug;
    ASSERT_EQ(S_OK, exporter->UnpackCard(Bstr(dest)));
    const std::vector<std::wstring> expected = {L"\n", folder, L"\n", L"\n", folder + L"a.bin",
                                                L"\n", folder, L"\n", L"\n", folder + L"b.txt", L"\n"};
    EXPECT_EQ(expected, debug.lines());
  }
  {
    // A card too short for its record count, read at the packed offset.
    WriteAll(scratch.Path(L"short.exe"), "MZ");
    DebuggerLines debug;
    EXPECT_EQ(kUnpackFailed, exporter->UnpackCard(Bstr(scratch.Path(L"short.exe"))));
    EXPECT_EQ(std::vector<std::wstring>{L"Read File Numbers Failure"}, debug.lines());
  }
}

// Each way of naming the picture either gives a card whose record comes out
// as the user's file (by UnpackCard and by the player alike), or fails the
// pack with nothing written.
TEST(ExportToCard, PackedNamesComeOutAsTheUsersFilesOrThePackFails) {
  ScratchFolder scratch(L"quillbox-card-");
  const Bytes photo = Pattern(5000, 9);
  const std::wstring cyrillic = L"\u0444\u043e\u0442\u043e.jpg";
  for (const std::wstring& name : {std::wstring(L"photo.jpg"), cyrillic}) WriteAll(scratch.Path(name), photo);
  WriteAll(scratch.Path(L"note.txt"), "note");
  // Under code page 1252 the Cyrillic name is stored as its short name when
  // the system has one the code page spells; otherwise the pack must fail.
  // (A code page that spells it, such as 936, stores it as it is.)
  std::string cyrillicRecord;
  const std::wstring shortCyrillic = ShortForm(scratch.Path(cyrillic));
  if (!ExactAnsiName(cyrillic, cyrillicRecord) &&
      !ExactAnsiName(shortCyrillic.substr(shortCyrillic.rfind(L'\\') + 1), cyrillicRecord))
    cyrillicRecord.clear();
  const std::wstring drive = scratch.dir().substr(0, 2);  // "C:"
  struct Case {
    const wchar_t* what;
    std::wstring picture;
    std::string record;  // empty: the pack fails
  } cases[] = {
      {L"forward slashes", ForwardSlashes(scratch.Path(L"photo.jpg")), "photo.jpg"},
      {L"drive and a relative name", drive + L"photo.jpg", ""},
      {L"a name code page 1252 cannot spell", scratch.Path(cyrillic), cyrillicRecord},
      {L"a device name", scratch.Path(L"CON.jpg"), ""},
  };
  InFolder here(scratch.dir());  // where "C:photo.jpg" is
  int index = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.what);
    const std::wstring cards = scratch.Folder(L"cards" + std::to_wstring(++index));
    const std::wstring card = cards + L"\\card.exe";
    const HRESULT hr = NewExporter()->PackCard(Bstr(c.picture), Bstr(scratch.Path(L"note.txt")), Bstr(card));
    if (c.record.empty()) {
      EXPECT_EQ(E_FAIL, hr);
      EXPECT_TRUE(ScratchFolder::Names(cards).empty()) << "nothing is written, not even a part of a card";
      continue;
    }
    ASSERT_EQ(S_OK, hr);
    const std::wstring record(c.record.begin(), c.record.end());
    EXPECT_EQ(S_OK, NewExporter()->UnpackCard(Bstr(card)));
    EXPECT_TRUE(ReadAll(cards + L"\\" + record) == photo) << "UnpackCard gives the user's file";
    EXPECT_EQ(0u, RunProgram(Quoted(card) + L" /extract " + Quoted(cards + L"\\player")));
    EXPECT_TRUE(ReadAll(cards + L"\\player\\" + record) == photo) << "the player gives the user's file";
  }
}

// A destination that is one of the card's own files, however it is spelled,
// fails the pack and leaves the file as it was; so does any failed pack for
// a card already at the destination.
TEST(ExportToCard, PackNeverOverwritesItsOwnFilesOrAnExistingCard) {
  ScratchFolder scratch(L"quillbox-card-");
  const Bytes photo = Pattern(40000, 4), note = "the note";
  const std::wstring photoPath = scratch.Path(L"Holiday Photograph.jpeg"), notePath = scratch.Path(L"note.txt");
  WriteAll(photoPath, photo);
  WriteAll(notePath, note);
  std::wstring upper = photoPath;
  CharUpperBuffW(upper.data(), static_cast<DWORD>(upper.size()));
  const std::wstring shortName = ShortForm(photoPath);
  std::vector<std::pair<const wchar_t*, std::wstring>> spellings = {
      {L"the same path", photoPath}, {L"other case", upper}, {L"forward slashes", ForwardSlashes(photoPath)},
      {L"the note", notePath}};
  if (!shortName.empty() && shortName != photoPath) spellings.push_back({L"short name", shortName});
  if (CreateHardLinkW(scratch.Path(L"link.jpeg").c_str(), photoPath.c_str(), nullptr))
    spellings.push_back({L"another link to the photo", scratch.Path(L"link.jpeg")});
  const std::vector<std::wstring> before = ScratchFolder::Names(scratch.dir());
  ComPtr<IExportToCard> exporter = NewExporter();
  for (const auto& [what, dest] : spellings) {
    EXPECT_EQ(E_FAIL, exporter->PackCard(Bstr(photoPath), Bstr(notePath), Bstr(dest))) << what;
    EXPECT_TRUE(ReadAll(photoPath) == photo) << what;
    EXPECT_TRUE(ReadAll(notePath) == note) << what;
    EXPECT_EQ(before, ScratchFolder::Names(scratch.dir())) << what;
  }

  const std::wstring card = scratch.Path(L"cards\\card.exe");
  ASSERT_EQ(S_OK, exporter->PackCard(Bstr(photoPath), Bstr(notePath), Bstr(card)));
  const Bytes packed = ReadAll(card);
  struct Failing {
    const wchar_t* what;
    std::wstring picture, extra;
  } failing[] = {
      {L"a typo in the extra path", photoPath, scratch.Path(L"nite.txt")},
      {L"a missing picture", scratch.Path(L"gone.jpg"), notePath},
      {L"a device name", scratch.Path(L"nul.jpg"), notePath},
  };
  for (const Failing& f : failing) {
    EXPECT_EQ(E_FAIL, exporter->PackCard(Bstr(f.picture), Bstr(f.extra), Bstr(card))) << f.what;
    EXPECT_TRUE(ReadAll(card) == packed) << f.what << ": the card is as it was";
    EXPECT_EQ(std::vector<std::wstring>{L"card.exe"}, ScratchFolder::Names(scratch.Path(L"cards"))) << f.what;
  }
  // A card packed over the old one replaces it whole.
  WriteAll(scratch.Path(L"other.txt"), "other");
  ASSERT_EQ(S_OK, exporter->PackCard(Bstr(photoPath), Bstr(scratch.Path(L"other.txt")), Bstr(card)));
  EXPECT_TRUE(ReadAll(card) == ReadAll(PlayerPath()) + U32(2) + Record("Holiday Photograph.jpeg", photo) +
                                   Record("other.txt", "other") + Trailer(static_cast<uint32_t>(ReadAll(PlayerPath()).size())));
}

// Records named after devices or ending in a dot are refused before any
// file is made for them (no device is opened: the exporter tells the
// debugger of each file it makes); a library's name is an ordinary file,
// which the player, importing only known system libraries, never loads.
TEST(ExportToCard, CraftedNamesOpenNoDeviceAndPlantNoLibrary) {
  ScratchFolder scratch(L"quillbox-card-");
  const Bytes player = ReadAll(PlayerPath());
  const uint32_t p = static_cast<uint32_t>(player.size());
  for (const char* name : {"CON", "nul.txt", "COM1.jpg", "name.", "name ", "Lpt1", "aux .txt"}) {
    SCOPED_TRACE(name);
    const std::wstring dir = scratch.Folder(L"crafted");
    WriteAll(dir + L"\\card.exe", player + U32(2) + Record(name, "x") + Record("b.txt", "y") + Trailer(p));
    {
      DebuggerLines debug;
      EXPECT_EQ(kUnpackFailed, NewExporter()->UnpackCard(Bstr(dir + L"\\card.exe")));
      for (const std::wstring& line : debug.lines()) EXPECT_EQ(std::wstring::npos, line.find(L"\\crafted\\")) << "made a file";
    }
    std::string told;
    EXPECT_EQ(2u, RunProgram(Quoted(dir + L"\\card.exe") + L" /extract " + Quoted(scratch.Path(L"out")), &told, true));
    EXPECT_NE(std::string::npos, told.find("not a plain file name")) << told;
    EXPECT_EQ(std::vector<std::wstring>{L"card.exe"}, ScratchFolder::Names(dir));
    EXPECT_TRUE(ScratchFolder::Names(scratch.Path(L"out")).empty());
  }
  // A "dbghelp.dll" that is no library at all lands beside the card; the
  // card still runs from that folder, with that folder as the current one.
  const std::wstring dir = scratch.Folder(L"planted");
  WriteAll(dir + L"\\card.exe", player + U32(2) + Record("photo.jpg", "jpeg") + Record("dbghelp.dll", "MZ not a library") +
                                    Trailer(p));
  EXPECT_EQ(S_OK, NewExporter()->UnpackCard(Bstr(dir + L"\\card.exe")));
  EXPECT_EQ("MZ not a library", ReadAll(dir + L"\\dbghelp.dll"));
  std::string listed;
  EXPECT_EQ(0u, RunProgram(Quoted(dir + L"\\card.exe") + L" /list", &listed, false, dir));
  EXPECT_EQ("photo.jpg\t4\r\ndbghelp.dll\t16\r\n", listed);
}

// A record too large to hold in memory makes a damaged card, not a crash.
// The card is sparse: 3.75 GB of record that takes no room on the disk. The
// test build of the player shows it without a message box.
TEST(Showreel, RecordTooLargeToHoldIsADamagedCard) {
  ScratchFolder scratch(L"quillbox-card-");
  const Bytes player = ReadAll(PlayerPath());
  const uint32_t length = 0xF0000000u;
  const std::wstring card = scratch.Path(L"huge.exe");
  HANDLE f = CreateFileW(card.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, f);
  const Bytes head = player + U32(1) + Field("huge.jpg") + U32(length), trailer = Trailer(static_cast<uint32_t>(player.size()));
  DWORD n = 0;
  ASSERT_TRUE(WriteFile(f, head.data(), static_cast<DWORD>(head.size()), &n, nullptr));
  LARGE_INTEGER end;
  end.QuadPart = static_cast<LONGLONG>(head.size()) + length;
  ASSERT_TRUE(SetFilePointerEx(f, end, nullptr, FILE_BEGIN));
  ASSERT_TRUE(WriteFile(f, trailer.data(), static_cast<DWORD>(trailer.size()), &n, nullptr));
  CloseHandle(f);
  std::string told;
  EXPECT_EQ(2u, RunProgram(Quoted(BuildFile(L"ShowreelTest.EXE")) + L" /snapshot " + Quoted(card) + L" " +
                               Quoted(scratch.Path(L"shot.bmp")),
                           &told, true));
  EXPECT_NE(std::string::npos, told.find("damaged")) << told;
  EXPECT_NE(std::string::npos, told.find("memory")) << told;
  EXPECT_FALSE(Exists(scratch.Path(L"shot.bmp")));
}
