// The picture's ways out: files (with the source's EXIF segment carried
// into JPEG output), the clipboard, a device context and thumbnails.
#include <gtest/gtest.h>
#include <windows.h>
#include <sddl.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "base/ansi_path.h"
#include "base/files.h"
#include "base/text.h"
#include "test_blocks.h"
#include "test_support.h"

using namespace qbtest;

namespace {

// The folder of the real camera photos, from the harness.
std::wstring SamplePhoto() {
  const char* dir = std::getenv("QB_SAMPLES_WIN");
  if (!dir) return {};
  std::wstring path(dir, dir + strlen(dir));
  path += L"\\sample1.jpg";
  return GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES ? std::wstring() : path;
}


// Counts the APP1 segments that begin with "Exif" before the scan.
int ExifSegments(const std::vector<uint8_t>& jpeg) {
  int count = 0;
  size_t at = 2;
  while (at + 4 <= jpeg.size() && jpeg[at] == 0xFF && jpeg[at + 1] != 0xDA) {
    const size_t length = (jpeg[at + 2] << 8) | jpeg[at + 3];
    if (jpeg[at + 1] == 0xE1 && at + 8 <= jpeg.size() && std::memcmp(&jpeg[at + 4], "Exif", 4) == 0) ++count;
    at += 2 + length;
  }
  return count;
}

bool StartsSpliced(const std::vector<uint8_t>& bytes) {
  return bytes.size() > 10 && bytes[0] == 0xFF && bytes[1] == 0xD8 && bytes[2] == 0xFF && bytes[3] == 0xE1 &&
         std::memcmp(&bytes[6], "Exif", 4) == 0;
}

// A picture loaded from the sample photo, brightened (so it carries the
// photo's file name but holds a new block).
ComPtr<IVuPicture> EditedSample(const std::wstring& photo) {
  ComPtr<IVuPicture> source = NewPicture();
  EXPECT_EQ(S_OK, source->LoadFile(Bstr(photo)));
  ComPtr<IBright> bright;
  CoCreateInstance(CLSID_Bright, nullptr, CLSCTX_INPROC_SERVER, IID_IBright,
                   reinterpret_cast<void**>(bright.GetAddressOf()));
  bright->put_Brightness(20);
  ComPtr<IVuPicture> result;
  EXPECT_EQ(S_OK, bright->Apply(source.Get(), result.GetAddressOf()));
  return result;
}

}  // namespace

TEST(Clipboard, CopiedImageOutlivesThePicture) {
  const int32_t block = PhotoLike(12, 7);
  const std::vector<uint8_t> expected = Bytes(block);
  {
    ComPtr<IVuPicture> p = NewPicture();
    p->AttachImage(block);
    ASSERT_EQ(S_OK, p->CopyToClipboard());
  }
  ASSERT_TRUE(OpenClipboard(nullptr));
  HANDLE data = GetClipboardData(CF_DIB);
  ASSERT_NE(nullptr, data);
  EXPECT_EQ(expected, Bytes(AsHandle(data)));
  CloseClipboard();
}

TEST(Clipboard, PastedImageOutlivesTheClipboard) {
  ComPtr<IVuPicture> source = NewPicture();
  source->AttachImage(PhotoLike(9, 4));
  ASSERT_EQ(S_OK, source->CopyToClipboard());
  ComPtr<IVuPicture> p = NewPicture();
  const int32_t old = PhotoLike(3, 3);
  const std::vector<uint8_t> oldBytes = Bytes(old);
  p->AttachImage(old);
  ASSERT_EQ(S_OK, p->PasteFromClipboard());
  EXPECT_EQ(oldBytes, Bytes(old)) << "the block handed in before is the caller's again, alive";
  FreeBlocks({old});
  LONG handle = 0, width = 0, height = 0;
  p->get_Handle(&handle);
  p->get_Width(&width);
  p->get_Height(&height);
  EXPECT_EQ(9, width);
  EXPECT_EQ(4, height);
  const std::vector<uint8_t> pasted = Bytes(handle);
  ASSERT_TRUE(OpenClipboard(nullptr));
  EmptyClipboard();
  CloseClipboard();
  EXPECT_EQ(pasted, Bytes(handle));
  LONG sourceHandle = 0;
  source->get_Handle(&sourceHandle);
  EXPECT_EQ(Bytes(sourceHandle), pasted);
}

TEST(Clipboard, PasteWithoutAnImageFailsAndChangesNothing) {
  ASSERT_TRUE(OpenClipboard(nullptr));
  EmptyClipboard();
  CloseClipboard();
  ComPtr<IVuPicture> p = NewPicture();
  const int32_t block = PhotoLike(5, 5);
  p->AttachImage(block);
  EXPECT_EQ(E_FAIL, p->PasteFromClipboard());
  LONG handle = 0;
  p->get_Handle(&handle);
  EXPECT_EQ(block, handle);
  // An empty picture copies nothing but still empties the clipboard.
  ComPtr<IVuPicture> empty = NewPicture();
  EXPECT_EQ(S_OK, empty->CopyToClipboard());
  EXPECT_FALSE(IsClipboardFormatAvailable(CF_DIB));
}

TEST(Thumbnail, WidthAndHeightReachTheLibraryInItsOrder) {
  ComPtr<IVuPicture> p = NewPicture();
  p->AttachImage(PhotoLike(400, 300));
  LONG bitmap = kMarker;
  ASSERT_EQ(S_OK, p->CreateThumbnail(100, 200, &bitmap));
  ASSERT_NE(0, bitmap);
  BITMAP info = {};
  ASSERT_NE(0, GetObjectW(reinterpret_cast<HBITMAP>(static_cast<intptr_t>(bitmap)), sizeof(info), &info));
  EXPECT_EQ(200, info.bmWidth);
  EXPECT_EQ(100, info.bmHeight);
  DeleteObject(reinterpret_cast<HBITMAP>(static_cast<intptr_t>(bitmap)));

  ComPtr<IVuPicture> empty = NewPicture();
  bitmap = kMarker;
  EXPECT_EQ(E_OUTOFMEMORY, empty->CreateThumbnail(10, 10, &bitmap));
  EXPECT_EQ(kMarker, bitmap);
  LONG none = kMarker;
  EXPECT_EQ(S_OK, p->get_Bitmap(&none));
  EXPECT_EQ(0, none);
}

TEST(DrawFile, DrawsTheSourceFileAtSixtyTen) {
  ScratchFolder scratch(L"quillbox-out-");
  // A red 20 x 10 picture at 96 dots per inch, so GDI+ draws it 1:1.
  const int32_t block = MakeBlock(20, 10, [](int32_t, int32_t) { return 0xFF0000u; });
  auto* header = static_cast<BITMAPINFOHEADER*>(GlobalLock(AsHGlobal(block)));
  header->biXPelsPerMeter = header->biYPelsPerMeter = 3780;
  GlobalUnlock(AsHGlobal(block));
  const std::wstring file = scratch.Path(L"red.bmp");
  ComPtr<IVuPicture> writer = NewPicture();
  writer->AttachImage(block);
  ASSERT_EQ(S_OK, writer->SaveFile(Bstr(file), 0));

  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = 120;
  info.bmiHeader.biHeight = -40;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  void* bits = nullptr;
  HBITMAP section = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HDC dc = CreateCompatibleDC(nullptr);
  HGDIOBJ old = SelectObject(dc, section);
  std::memset(bits, 0xFF, 120 * 40 * 4);

  ComPtr<IVuPicture> p = NewPicture();
  p->SetFile(Bstr(file));
  EXPECT_EQ(S_OK, p->DrawFile(static_cast<LONG>(reinterpret_cast<intptr_t>(dc))));
  GdiFlush();
  auto pixel = [&](int x, int y) { return static_cast<uint32_t*>(bits)[y * 120 + x] & 0xFFFFFF; };
  // GDI+ may blend the outermost pixels a little; the inside is the file's.
  auto reddish = [](uint32_t c) { return (c >> 16) > 0xE0 && ((c >> 8) & 0xFF) < 0x20 && (c & 0xFF) < 0x20; };
  EXPECT_TRUE(reddish(pixel(60, 10))) << std::hex << pixel(60, 10);
  EXPECT_TRUE(reddish(pixel(79, 19))) << std::hex << pixel(79, 19);
  EXPECT_EQ(0xFF0000u, pixel(70, 15));
  EXPECT_EQ(0xFFFFFFu, pixel(59, 10));
  EXPECT_EQ(0xFFFFFFu, pixel(60, 9));
  EXPECT_EQ(0xFFFFFFu, pixel(80, 20));
  SelectObject(dc, old);
  DeleteDC(dc);
  DeleteObject(section);
}

TEST(Saving, SaveAsSplicesJpegExtensionsAndSavesOthersPlainly) {
  const std::wstring photo = SamplePhoto();
  if (photo.empty()) GTEST_SKIP() << "QB_SAMPLES_WIN does not name the camera photos";
  ScratchFolder scratch(L"quillbox-out-");
  ComPtr<IVuPicture> p = EditedSample(photo);
  const std::wstring base = scratch.Path(L"base");
  ASSERT_EQ(S_OK, p->SaveAs(Bstr(base), Bstr(L".jpg")));
  ASSERT_EQ(S_OK, p->SaveAs(Bstr(base), Bstr(L"JPG")));
  ASSERT_EQ(S_OK, p->SaveAs(Bstr(base), Bstr(L".bmp")));
  const std::vector<uint8_t> source = ReadFileBytes(photo);
  for (const wchar_t* name : {L"base.jpg", L"baseJPG"}) {
    const std::vector<uint8_t> spliced = ReadFileBytes(scratch.Path(name));
    ASSERT_TRUE(StartsSpliced(spliced)) << "spliced file";
    EXPECT_EQ(1, ExifSegments(spliced));
    // The kept segment is the source's own EXIF segment up to the source's
    // thumbnail (the first embedded start-of-image): past the length bytes
    // only the pixel dimensions and the thumbnail's length may differ (12
    // bytes at most). From there on lies a new JPEG, the saved picture's.
    const size_t length = (spliced[4] << 8) | spliced[5];
    size_t differing = SIZE_MAX, thumbnailAt = 0;
    for (size_t i = 0; i + 10 <= source.size() && differing == SIZE_MAX; ++i) {
      if (source[i] != 0xFF || source[i + 1] != 0xE1 || std::memcmp(&source[i + 4], "Exif", 4) != 0) continue;
      const size_t sourceLength = (source[i + 2] << 8) | source[i + 3];
      for (size_t k = 10; k + 3 <= sourceLength && !thumbnailAt; ++k)
        if (source[i + 2 + k] == 0xFF && source[i + 3 + k] == 0xD8 && source[i + 4 + k] == 0xFF) thumbnailAt = k;
      if (!thumbnailAt || thumbnailAt + 3 > length || 4 + length > spliced.size()) break;
      differing = 0;
      for (size_t k = 2; k < thumbnailAt; ++k) differing += source[i + 2 + k] != spliced[4 + k];
      EXPECT_NE(0, std::memcmp(&source[i + 2 + thumbnailAt], &spliced[4 + thumbnailAt],
                               std::min(sourceLength, length) - thumbnailAt))
          << "the thumbnail is not the source's";
    }
    EXPECT_LE(differing, 12u);
    ASSERT_GT(thumbnailAt, 0u);
    EXPECT_EQ(0, std::memcmp(&spliced[4 + thumbnailAt], "\xFF\xD8\xFF", 3));
    ComPtr<IVuPicture> back = NewPicture();
    EXPECT_EQ(S_OK, back->LoadFile(Bstr(scratch.Path(name)))) << "the spliced file decodes";
    LONG width = 0;
    back->get_Width(&width);
    EXPECT_EQ(500, width);
  }
  const std::vector<uint8_t> bmp = ReadFileBytes(scratch.Path(L"base.bmp"));
  ASSERT_GT(bmp.size(), 2u);
  EXPECT_EQ('B', bmp[0]);
  EXPECT_EQ('M', bmp[1]);
}

TEST(Saving, SaveFileSplicesOnlyWhenAskedToKeepTheSegment) {
  const std::wstring photo = SamplePhoto();
  if (photo.empty()) GTEST_SKIP() << "QB_SAMPLES_WIN does not name the camera photos";
  ScratchFolder scratch(L"quillbox-out-");
  ComPtr<IVuPicture> p = EditedSample(photo);
  ASSERT_EQ(S_OK, p->SaveFile(Bstr(scratch.Path(L"plain.jpg")), 0));
  ASSERT_EQ(S_OK, p->SaveFile(Bstr(scratch.Path(L"kept.jpg")), 1));
  ASSERT_EQ(S_OK, p->SaveFile(Bstr(scratch.Path(L"kept.bmp")), 1));
  EXPECT_EQ(0, ExifSegments(ReadFileBytes(scratch.Path(L"plain.jpg"))));
  EXPECT_TRUE(StartsSpliced(ReadFileBytes(scratch.Path(L"kept.jpg"))));
  EXPECT_TRUE(StartsSpliced(ReadFileBytes(scratch.Path(L"kept.bmp")))) << "the extension is not examined";
  EXPECT_EQ(E_FAIL, p->SaveFile(Bstr(scratch.Path(L"no\\such\\dir\\x.jpg")), 1));
}

TEST(Saving, SaveWritesBackOverTheSourceKeepingItsSegment) {
  const std::wstring photo = SamplePhoto();
  if (photo.empty()) GTEST_SKIP() << "QB_SAMPLES_WIN does not name the camera photos";
  ScratchFolder scratch(L"quillbox-out-");
  const std::wstring copy = scratch.Path(L"own.jpg");
  ASSERT_TRUE(CopyFileW(photo.c_str(), copy.c_str(), FALSE));
  ComPtr<IVuPicture> p = NewPicture();
  ASSERT_EQ(S_OK, p->LoadFile(Bstr(copy)));
  ASSERT_EQ(S_OK, p->Save());
  const std::vector<uint8_t> saved = ReadFileBytes(copy);
  EXPECT_TRUE(StartsSpliced(saved));
  EXPECT_EQ(1, ExifSegments(saved));

  // A picture without an image cannot be saved: the save's failure is
  // passed on, and the file stays as it was.
  ComPtr<IVuPicture> empty = NewPicture();
  empty->SetFile(Bstr(copy));
  EXPECT_EQ(E_FAIL, empty->Save());
  EXPECT_EQ(saved, ReadFileBytes(copy));

  ComPtr<IVuPicture> invalid = NewPicture();
  invalid->put_Handle(-1);
  EXPECT_EQ(E_UNEXPECTED, invalid->Save());
  invalid->put_Handle(-1);
  EXPECT_EQ(E_UNEXPECTED, invalid->SaveAs(Bstr(scratch.Path(L"x")), Bstr(L".jpg")));
}

// A save over an existing file writes the new file beside it and swaps it
// in with ReplaceFileW, so the file keeps what it was: its permissions, its
// attributes, its other links and its alternate streams.
TEST(Saving, SaveOverAFileKeepsWhatTheFileWas) {
  const std::wstring photo = SamplePhoto();
  if (photo.empty()) GTEST_SKIP() << "QB_SAMPLES_WIN does not name the camera photos";
  ScratchFolder scratch(L"quillbox-out-");
  ComPtr<IVuPicture> p = EditedSample(photo);
  const std::wstring target = scratch.Path(L"kept.jpg"), link = scratch.Path(L"link.jpg");
  ASSERT_EQ(S_OK, p->SaveFile(Bstr(target), 0));

  // A restricted permission set: a protected list that lets the file's
  // owner in and nobody else.
  auto security = [](const std::wstring& path, SECURITY_INFORMATION what) {
    std::vector<uint8_t> sd(4096);
    DWORD need = 0;
    wchar_t* text = nullptr;
    std::wstring out;
    if (GetFileSecurityW(path.c_str(), what, sd.data(), static_cast<DWORD>(sd.size()), &need) &&
        ConvertSecurityDescriptorToStringSecurityDescriptorW(sd.data(), SDDL_REVISION_1, what, &text, nullptr)) {
      out = text;
      LocalFree(text);
    }
    return out;
  };
  const std::wstring owner = security(target, OWNER_SECURITY_INFORMATION);  // "O:S-1-5-..."
  ASSERT_EQ(0u, owner.rfind(L"O:", 0));
  PSECURITY_DESCRIPTOR restricted = nullptr;
  ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW((L"D:P(A;;FA;;;" + owner.substr(2) + L")").c_str(),
                                                                   SDDL_REVISION_1, &restricted, nullptr));
  ASSERT_TRUE(SetFileSecurityW(target.c_str(), DACL_SECURITY_INFORMATION, restricted));
  LocalFree(restricted);
  const std::wstring permissions = security(target, DACL_SECURITY_INFORMATION);
  ASSERT_EQ(std::wstring::npos, permissions.find(L";;;WD)")) << "nobody but the owner: " << permissions;
  ASSERT_TRUE(SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE));
  ASSERT_TRUE(CreateHardLinkW(link.c_str(), target.c_str(), nullptr));
  // A stream is part of the file; a system without streams makes a file of
  // that name beside it instead (Wine does), which a save cannot lose.
  ASSERT_TRUE(WriteFileBytes(target + L":caption", {'s', 'e', 'a'}));
  const bool streams = ScratchFolder::Names(scratch.dir()).size() == 2;
  // Wine's ReplaceFileW renames the new file over the old one, which
  // leaves the other link with the old bytes, whole.
  const bool renamingReplace = GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
  const std::vector<std::wstring> names = ScratchFolder::Names(scratch.dir());

  // The picture saved again over the file, as JPEG with its camera data (a
  // spliced save) and plainly: each time the file's own things stay.
  const std::vector<uint8_t> original = ReadFileBytes(target);
  std::vector<uint8_t> before = original;
  for (LONG keepExif : {1L, 0L}) {
    SCOPED_TRACE(keepExif ? "spliced save" : "plain save");
    ComPtr<IBright> bright = Make<IBright>(CLSID_Bright);
    bright->put_Brightness(keepExif ? 30 : -30);
    ComPtr<IVuPicture> again;
    ASSERT_EQ(S_OK, bright->Apply(p.Get(), again.GetAddressOf()));
    ASSERT_EQ(S_OK, again->SaveFile(Bstr(target), keepExif));
    const std::vector<uint8_t> now = ReadFileBytes(target);
    EXPECT_NE(before, now) << "the new picture is in the file";
    EXPECT_EQ(permissions, security(target, DACL_SECURITY_INFORMATION));
    EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE),
              GetFileAttributesW(target.c_str()) & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE));
    EXPECT_EQ((std::vector<uint8_t>{'s', 'e', 'a'}), ReadFileBytes(target + L":caption"));
    const std::vector<uint8_t> linked = ReadFileBytes(link);
    if (renamingReplace) {
      EXPECT_EQ(original, linked) << "the other link keeps the old picture, whole";
    } else {
      EXPECT_EQ(now, linked) << "the other link names the saved file";
    }
    EXPECT_EQ(names, ScratchFolder::Names(scratch.dir())) << "no temporary file is left beside the target";
    before = now;
  }
  std::printf("[ saves    ] alternate streams %s; the other link %s\n", streams ? "kept" : "not on this system",
              renamingReplace ? "keeps the old bytes (a renaming ReplaceFileW)" : "follows the save");
}

// A block handed from one picture to another is copied, never claimed
// twice: releasing the second leaves the first whole.
TEST(HandedBlocks, AttachImageAndPutHandleCopyABlockAnotherPictureOwns) {
  ScratchFolder scratch(L"quillbox-out-");
  ComPtr<IVuPicture> p = NewPicture();
  ASSERT_EQ(S_OK, p->AttachImage(PhotoLike(6, 4)));
  LONG h = 0;
  ASSERT_EQ(S_OK, p->get_Handle(&h));
  const std::vector<uint8_t> before = Bytes(h);
  for (bool attach : {true, false}) {
    ComPtr<IVuPicture> q = NewPicture();
    EXPECT_EQ(S_OK, attach ? q->AttachImage(h) : q->put_Handle(h));
    LONG copy = 0;
    q->get_Handle(&copy);
    EXPECT_NE(h, copy) << "a copy, not a second claim";
    EXPECT_EQ(before, Bytes(copy));
  }
  EXPECT_EQ(before, Bytes(h)) << "the first picture's block survives the second's release";
  EXPECT_EQ(S_OK, p->SaveAs(Bstr(scratch.Path(L"kept").c_str()), Bstr(L".bmp")));
  ComPtr<IVuPicture> back = NewPicture();
  EXPECT_EQ(S_OK, back->LoadFile(Bstr(scratch.Path(L"kept.bmp").c_str())));
  LONG width = 0;
  back->get_Width(&width);
  EXPECT_EQ(6, width);
}

// Save reports the save it makes; a failure without a message of its own
// leaves no earlier message behind.
TEST(HonestResults, SaveReportsItsFailureAndStaleMessagesAreCleared) {
  ScratchFolder scratch(L"quillbox-out-");
  const std::wstring target = scratch.Path(L"locked.bmp");
  ComPtr<IVuPicture> p = NewPicture();
  ASSERT_EQ(S_OK, p->AttachImage(PhotoLike(4, 4)));
  ASSERT_EQ(S_OK, p->SaveAs(Bstr(scratch.Path(L"locked").c_str()), Bstr(L".bmp")));
  ASSERT_EQ(S_OK, p->LoadFile(Bstr(target.c_str())));
  ASSERT_EQ(S_OK, p->Save()) << "a save over its own writable file";
  SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_READONLY);
  EXPECT_EQ(E_FAIL, p->Save()) << "a save that writes nothing is a failure";
  SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_NORMAL);

  EXPECT_EQ(DISP_E_EXCEPTION, p->ReadExif(Bstr(scratch.Path(L"missing.jpg").c_str())));
  OpenClipboard(nullptr);
  EmptyClipboard();
  CloseClipboard();
  EXPECT_EQ(E_FAIL, p->PasteFromClipboard());
  ComPtr<IErrorInfo> stale;
  EXPECT_EQ(S_FALSE, GetErrorInfo(0, stale.GetAddressOf())) << "no earlier message is left for this failure";
}

namespace {

std::string FileText(const std::wstring& path) {
  std::vector<uint8_t> bytes;
  if (qb::ReadWholeFile(path.c_str(), bytes, 1 << 20) != qb::ReadResult::kRead) return "(unreadable)";
  return std::string(bytes.begin(), bytes.end());
}

// Writes text by a narrow name, as the imaging library writes.
bool WriteNarrow(const char* path, const std::string& text) {
  HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD wrote = 0;
  const bool ok = WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &wrote, nullptr) && wrote == text.size();
  CloseHandle(file);
  return ok;
}

size_t FilesIn(const std::wstring& folder) {
  size_t count = 0;
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return 0;
  do count += !(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
  while (FindNextFileW(find, &data));
  FindClose(find);
  return count;
}

}  // namespace

// Names the ANSI code page cannot spell, on a volume without short names:
// writes go through a stand-in beside the target that takes its place only
// on commit, and reads through a copy that is removed after.
TEST(AnsiPaths, WithoutShortNamesAStandInTakesTheTargetsPlace) {
  ScratchFolder scratch(L"quillbox-out-");
  std::wstring folder = scratch.Path(L".");
  folder.resize(folder.size() - 2);
  for (const wchar_t* name : {L"\u7167\u7247 1.jpg", L"\u0444\u043e\u0442\u043e.jpeg"}) {
    SCOPED_TRACE(testing::Message() << "name of " << wcslen(name) << " characters");
    const std::wstring target = scratch.Path(name);
    std::string narrow;
    ASSERT_FALSE(qb::ExactAnsi(target, narrow)) << "the test needs a name the code page cannot spell";
    const size_t before = FilesIn(folder);
    {
      qb::AnsiWritePath write(target, qb::ShortNames::kNever);
      ASSERT_NE(nullptr, write.get());
      ASSERT_TRUE(WriteNarrow(write.get(), "first"));
      EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(target.c_str())) << "not in place before the commit";
      EXPECT_TRUE(write.Commit());
    }
    EXPECT_EQ("first", FileText(target));
    {
      qb::AnsiWritePath abandoned(target, qb::ShortNames::kNever);
      ASSERT_TRUE(WriteNarrow(abandoned.get(), "abandoned"));
    }
    EXPECT_EQ("first", FileText(target)) << "a write without a commit leaves the file as it was";
    SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_READONLY);
    {
      qb::AnsiWritePath refused(target, qb::ShortNames::kNever);
      ASSERT_TRUE(WriteNarrow(refused.get(), "refused"));
      EXPECT_FALSE(refused.Commit()) << "a read-only file is not replaced";
    }
    SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ("first", FileText(target));
    std::wstring copy;
    {
      qb::AnsiReadPath read(target, qb::ShortNames::kNever);
      ASSERT_NE(nullptr, read.get());
      copy = qb::FromAnsi(read.get());
      EXPECT_EQ("first", FileText(copy));
    }
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(copy.c_str())) << "the copy for the read is removed";
    EXPECT_EQ(before + 1, FilesIn(folder)) << "no stand-in is left beside the file";
  }
  // With short names, a new file whose short name cuts its extension goes
  // through a stand-in too, and an abandoned write leaves no file at all.
  const std::wstring fresh = scratch.Path(L"\u0444.jpeg");
  {
    qb::AnsiWritePath write(fresh);
    ASSERT_NE(nullptr, write.get());
    EXPECT_STREQ(".jpeg", strrchr(write.get(), '.'));
  }
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(fresh.c_str()));
}
