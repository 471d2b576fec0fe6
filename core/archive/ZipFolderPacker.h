// Packs a directory tree into an open archive: every subdirectory as a folder entry ahead of its
// contents, every file as a file entry, archive names relative to the base folder.
#pragma once

#include "core/archive/ZipArchive.h"

#include <string>

class CZipFolderPacker {
public:
    // Adds the contents of baseFolder joined with relativePath (empty for the top). Archive names are
    // built with backslashes, which the writer turns into slashes. Returns the first non-zero result,
    // which ends the walk. A directory that cannot be listed gives KVXZIP_ERR_OPEN, or
    // KVXZIP_ERR_READ when the listing breaks off, rather than silently leaving its files out.
    static ZRESULT AddDirectory(HZIPARCHIVE hZip, const std::string& baseFolder, const std::string& relativePath);

private:
    static ZRESULT AddLevel(HZIPARCHIVE hZip, const std::string& directory, const std::string& archivePrefix);
};
