// Packs a directory tree into an open archive: every subdirectory as a folder entry ahead of its
// contents, every file as a file entry, archive names relative to the base folder.
#pragma once

#include "core/archive/ZipArchive.h"

#include <functional>
#include <string>

// One item of a walk: its archive name (relative, backslash-separated) and the path to read it from.
struct SPackedItem {
    std::string m_archiveName;
    std::string m_path;
    bool m_isDirectory = false;
};

class CZipFolderPacker {
public:
    using ItemVisitor = std::function<ZRESULT(const SPackedItem&)>;

    // Adds the contents of baseFolder joined with relativePath (empty for the top). Archive names are
    // built with backslashes, which the writer turns into slashes. Returns the first non-zero result,
    // which ends the walk. A directory that cannot be listed gives KVXZIP_ERR_OPEN, or
    // KVXZIP_ERR_READ when the listing breaks off, rather than silently leaving its files out.
    static ZRESULT AddDirectory(HZIPARCHIVE hZip, const std::string& baseFolder, const std::string& relativePath);

    // The walk AddDirectory packs in, for whoever must follow the archive's order exactly: every
    // subdirectory is visited before its contents, and a non-zero result from the visitor ends the walk.
    static ZRESULT Walk(const std::string& baseFolder, const std::string& relativePath, const ItemVisitor& visit);

private:
    static ZRESULT WalkLevel(const std::string& directory, const std::string& archivePrefix, const ItemVisitor& visit);
};
