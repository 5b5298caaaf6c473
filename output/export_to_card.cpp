#include "output/export_to_card.h"

#include <windows.h>

#include <exception>
#include <memory>
#include <vector>

#include "base/ansi_path.h"
#include "base/files.h"
#include "base/folders.h"
#include "base/resource_guards.h"
#include "base/text.h"
#include "com/module.h"
#include "output/card_file.h"
#include "output/portable/card_format.h"

namespace qb {
namespace {

constexpr wchar_t kLineFeed[] = L"\n";
constexpr wchar_t kPlayerName[] = L"Showreel.EXE";

// One debugger line per item, as the card operations report their steps.
void Debug(std::initializer_list<const wchar_t*> items) {
  for (const wchar_t* item : items) OutputDebugStringW(item);
}

// The path up to and including its last backslash; empty when it has none.
std::wstring FolderOf(const std::wstring& path) {
  const size_t cut = path.rfind(L'\\');
  return cut == std::wstring::npos ? std::wstring() : path.substr(0, cut + 1);
}

// The part of a path after its last backslash or forward slash (Windows
// takes both as separators); the whole path when it has neither.
std::wstring NameOf(const std::wstring& path) {
  const size_t cut = path.find_last_of(L"\\/");
  return cut == std::wstring::npos ? path : path.substr(cut + 1);
}

// The name a listed file is recorded under: its own name when the ANSI
// code page spells it exactly, else the name of its short form when that
// is spelled exactly. Empty when that is not a name both readers accept (a
// drive, a device, a name ending in a dot or a space) or does not fit the
// field.
std::string RecordName(const std::wstring& path) {
  std::string name;
  auto storable = [&] { return name.size() <= card::kMaxNameBytes && card::IsSafeName(name); };
  if (ExactAnsi(NameOf(path), name)) return storable() ? name : std::string();
  const DWORD n = GetShortPathNameW(path.c_str(), nullptr, 0);
  if (n > 0) {
    std::vector<wchar_t> buffer(n);
    const DWORD got = GetShortPathNameW(path.c_str(), buffer.data(), n);
    if (got > 0 && got < n && ExactAnsi(NameOf(std::wstring(buffer.data(), got)), name) && storable())
      return name;
  }
  return {};
}

// What makes a file the same file whatever its path is spelled like (short
// name, other case, forward slashes, another link).
struct FileIdentity {
  DWORD volume = 0, high = 0, low = 0;
  bool operator==(const FileIdentity&) const = default;
};

bool IdentityOf(HANDLE file, FileIdentity& identity) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(file, &info)) return false;
  identity = {info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
  return true;
}

// A file opened for packing (a listed file or the player), with what its
// record will hold.
struct Source {
  std::unique_ptr<CardFile> file;
  std::string name;
  uint64_t size = 0;
  FileIdentity identity;
};

bool OpenSource(const std::wstring& path, DWORD share, Source& source) {
  source.file = std::make_unique<CardFile>(OpenForReading(path.c_str(), share));
  if (!source.file->ok() || !IdentityOf(source.file->get(), source.identity)) return false;
  source.size = source.file->Size();
  return source.size <= 0xFFFFFFFFu;
}

// The card being built beside its destination: removed unless it was put
// in place.
class PartCard {
 public:
  explicit PartCard(const wchar_t* made)
      : path(made), file(CreateFileW(made, GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)) {}
  ~PartCard() {
    file.close();
    if (!path.empty()) DeleteFileW(path.c_str());
  }
  PartCard(const PartCard&) = delete;
  PartCard& operator=(const PartCard&) = delete;

  std::wstring path;  // empty once the card is in place
  CardFile file;
};

// Unpacking reports each file on the debugger before it is made.
class DebugFolderSink final : public FolderSink {
 public:
  using FolderSink::FolderSink;

 protected:
  void Creating(const std::wstring& folder, const std::wstring& path, uint32_t index) override {
    Debug({kLineFeed, folder.c_str(), kLineFeed});
    Debug({kLineFeed, path.c_str()});
    if (index > 0) Debug({kLineFeed});
  }
};

}  // namespace

// Preparing an output service has nothing to do.
STDMETHODIMP ExportToCard::Prepare() { return S_OK; }

STDMETHODIMP ExportToCard::PackCard(BSTR picPath, BSTR extraPath, BSTR destPath) {
  try {
    m_fileList.clear();
    const std::wstring dest(BstrView(destPath)), picture(BstrView(picPath)), extra(BstrView(extraPath));
    Debug({kLineFeed, L"sDestPath is:", kLineFeed, dest.c_str(), kLineFeed});
    Debug({kLineFeed, L"sPicPath is:", kLineFeed, picture.c_str(), kLineFeed});
    m_fileList.push_back(picture);
    m_fileList.push_back(extra);

    wchar_t module[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(ModuleInstance(), module, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return E_FAIL;
    const std::wstring folder = FolderOf(module);
    Debug({kLineFeed, L"sDllDir is:", folder.c_str(), kLineFeed});
    const std::wstring player = folder + kPlayerName;
    Debug({kLineFeed, player.c_str(), kLineFeed});

    return PackFiles(player, dest) == kPacked ? S_OK : E_FAIL;
  } catch (...) {
    return E_FAIL;
  }
}

int ExportToCard::PackFiles(const std::wstring& playerPath, const std::wstring& destPath) {
  if (m_fileList.empty()) return kNothingToPack;

  // Every file is opened, and every record's name found, before anything
  // is written: a listed file that cannot be opened, a name that cannot be
  // stored or a size that does not fit its field fails the pack with
  // nothing written. An empty path has no record (the picture's cannot be
  // empty). Listed files are shared for reading only, so that nobody
  // changes them while they are packed.
  std::vector<Source> sources;
  for (const std::wstring& path : m_fileList) {
    if (path.empty()) {
      if (sources.empty()) return kCannotPackFile;
      continue;
    }
    Source source;
    source.name = RecordName(path);
    if (source.name.empty() || !OpenSource(path, FILE_SHARE_READ, source)) return kCannotPackFile;
    sources.push_back(std::move(source));
  }
  Source player;
  if (!OpenSource(playerPath, FILE_SHARE_READ | FILE_SHARE_DELETE, player)) return kCannotMakeCopy;

  // The destination is never one of the files the card is made of, however
  // its path is spelled, and never a folder or a read-only file (which a
  // card does not replace).
  const DWORD attributes = GetFileAttributesW(destPath.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES) {
    if (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) return kCannotMakeCopy;
    UniqueFile existing(CreateFileW(destPath.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    FileIdentity identity;
    if (!existing || !IdentityOf(existing.get(), identity)) return kCannotMakeCopy;
    if (identity == player.identity) return kCannotMakeCopy;
    for (const Source& source : sources)
      if (identity == source.identity) return kCannotPackFile;
  }

  if (!MakeFoldersFor(destPath.c_str())) return kCannotMakeCopy;
  Debug({kLineFeed, playerPath.c_str(), kLineFeed, destPath.c_str(), kLineFeed});

  // The card is built under a name of its own in the destination's folder
  // and takes the destination's place only when it is whole; until then an
  // existing card at the destination keeps its bytes.
  const size_t cut = destPath.find_last_of(L"\\/");
  const std::wstring folder = cut == std::wstring::npos ? std::wstring(L".") : destPath.substr(0, cut + 1);
  wchar_t temporary[MAX_PATH];
  if (!GetTempFileNameW(folder.c_str(), L"qbc", 0, temporary)) return kCannotMakeCopy;
  PartCard part(temporary);
  if (!part.file.ok()) return kCannotMakeCopy;
  m_playerSize = static_cast<uint32_t>(player.size);

  // Files are read and written in large batches; each record is copied
  // through a 1024-byte buffer on top of them.
  card::WriteBehind out(part.file);
  {
    card::ReadAhead in(*player.file);
    char buffer[card::kCopyBufferSize];
    uint64_t copied = 0;
    for (uint32_t got = 0; in.Read(buffer, sizeof buffer, got) && got > 0; copied += got)
      if (!out.Write(buffer, got)) return kWriteFailed;
    if (copied != player.size) return kWriteFailed;
    player.file->close();
  }
  if (!card::WriteRecordCount(out, static_cast<uint32_t>(sources.size()))) return kWriteFailed;
  for (Source& source : sources) {
    card::ReadAhead in(*source.file);
    const card::PackStatus status = card::WriteRecord(out, source.name, in, source.size);
    source.file->close();
    if (status != card::PackStatus::kOk) return kWriteFailed;
  }
  if (!card::WriteTrailer(out, *m_playerSize) || !out.Flush() || !FlushFileBuffers(part.file.get()))
    return kWriteFailed;
  part.file.close();
  if (!PutInPlace(part.path.c_str(), destPath.c_str())) return kWriteFailed;
  part.path.clear();
  return kPacked;
}

STDMETHODIMP ExportToCard::UnpackCard(BSTR cardPath) {
  try {
    const std::wstring path(BstrView(cardPath));
    CardFile card(OpenForReading(path.c_str()));
    if (!card.ok()) return S_OK;
    uint32_t offset = 0;
    if (m_playerSize) {
      offset = *m_playerSize;
    } else if (!card::FindContainer(card, offset)) {
      return kUnpackFailed;
    }
    DebugFolderSink sink(FolderOf(path));
    const card::UnpackStatus status = card::Unpack(card, offset, sink);
    if (status == card::UnpackStatus::kNoCount) Debug({L"Read File Numbers Failure"});
    return status == card::UnpackStatus::kOk ? S_OK : kUnpackFailed;
  } catch (...) {
    return kUnpackFailed;
  }
}

}  // namespace qb
