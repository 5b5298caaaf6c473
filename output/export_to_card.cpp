#include "output/export_to_card.h"

#include <windows.h>
#include <dbghelp.h>

#include <exception>
#include <memory>

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

// The part of a path after its last backslash (forward slashes are not
// separators); the whole path when it has none.
std::wstring NameOf(const std::wstring& path) {
  const size_t cut = path.rfind(L'\\');
  return cut == std::wstring::npos ? path : path.substr(cut + 1);
}

// The path up to and including its last backslash; empty when it has none.
std::wstring FolderOf(const std::wstring& path) {
  const size_t cut = path.rfind(L'\\');
  return cut == std::wstring::npos ? std::wstring() : path.substr(0, cut + 1);
}

// A listed file opened for packing, with what its record will hold.
struct Source {
  std::unique_ptr<CardFile> file;
  std::string name;
  uint64_t size = 0;
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
  if (!MakeSureDirectoryPathExists(ToAnsi(destPath).c_str())) return kCannotMakeCopy;
  Debug({kLineFeed, playerPath.c_str(), kLineFeed, destPath.c_str(), kLineFeed});
  if (!CopyFileW(playerPath.c_str(), destPath.c_str(), FALSE)) return kCannotMakeCopy;
  SetFileAttributesW(destPath.c_str(), 0);

  CardFile card(CreateFileW(destPath.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!card.ok()) return kCannotMakeCopy;
  const uint64_t playerSize = card.Size();
  m_playerSize = static_cast<uint32_t>(playerSize);

  // What cannot be packed is found before anything is appended, so that
  // the record count is the number of records that follow. An empty path
  // has no record; any other path that cannot be opened, whose name does
  // not fit its field or whose size does not fit its length fails the pack
  // and the incomplete card is removed.
  auto fail = [&](int status) {
    card.close();
    DeleteFileW(destPath.c_str());
    return status;
  };
  if (playerSize > 0xFFFFFFFFu) return fail(kCannotMakeCopy);
  std::vector<Source> sources;
  for (const std::wstring& path : m_fileList) {
    if (path.empty()) {
      if (sources.empty()) return fail(kCannotPackFile);  // the picture comes first
      continue;
    }
    Source source;
    source.file = std::make_unique<CardFile>(OpenForReading(path.c_str()));
    if (!source.file->ok()) return fail(kCannotPackFile);
    source.name = ToAnsi(NameOf(path));
    source.size = source.file->Size();
    if (source.name.empty() || source.name.size() > card::kMaxNameBytes || source.size > 0xFFFFFFFFu)
      return fail(kCannotPackFile);
    sources.push_back(std::move(source));
  }

  // Each file is copied through a 1024-byte buffer; the files beneath are
  // read and written in large batches.
  if (!card.SeekToEnd()) return fail(kWriteFailed);
  card::WriteBehind out(card);
  if (!card::WriteRecordCount(out, static_cast<uint32_t>(sources.size()))) return fail(kWriteFailed);
  for (Source& source : sources) {
    card::ReadAhead in(*source.file);
    const card::PackStatus status = card::WriteRecord(out, source.name, in, source.size);
    source.file->close();
    if (status != card::PackStatus::kOk) return fail(kWriteFailed);
  }
  if (!card::WriteTrailer(out, *m_playerSize) || !out.Flush()) return fail(kWriteFailed);
  card.close();
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
