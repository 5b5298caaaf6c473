// Folders on the way to a file.
#pragma once

namespace qb {

// Makes every missing folder on the way to path: the folders named before
// its last separator (\ or /), with CreateDirectoryW. True when they all
// exist afterwards.
bool MakeFoldersFor(const wchar_t* path);

}  // namespace qb
