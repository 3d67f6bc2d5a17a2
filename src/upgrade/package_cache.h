// Where upgrade packages lie: the temporary package file named after its address and digest,
// and the per-user package cache. Portable; the name rules are pure functions.
#pragma once

#include <cstddef>
#include <string>

// Room for the longest path either system takes, terminator included: Windows 259 UTF-16 units
// (up to 3 bytes of UTF-8 each), Linux PATH_MAX bytes. Whether the system takes a path is
// platform::PathFitsSystemLimit's to say; a longer one is refused rather than cut, so a cut name
// can never name another file.
constexpr size_t kPackagePathBufferSize = 4096;

// The package cache "DFU" in the program's folder (platform::ProgramDataFolder()), beside the
// settings file; no trailing separator. "" when the per-user folder is unknown. Any thread; no
// file access.
std::string PackageCacheFolder();

// The temporary name of a package: base + "_" + md5Upper + extension, where base and extension
// come from the last "/"-segment of url split at its last "."; the query ("?...") and the
// fragment ("#...") are not part of that segment. Characters that cannot stand in
// a file name on either system (path separators, drive colon, wildcards, quotes, pipes, control
// characters) become "_", so the name never leaves the folder it is put in.
std::string BuildTempName(const std::string& url, const std::string& md5Upper);

// tempDir (ending in a separator) + separator + name, into out (size bytes, terminated).
// False, with out set to "", when tempDir is empty, the path does not fit out, or it is longer
// than this system's file functions take.
bool BuildTempPath(const std::string& tempDir, const char* separator, const std::string& url,
                   const std::string& md5Upper, char* out, size_t size);

// The file name after the last separator of path; "" when path holds none.
std::string FileNameAfterLastSeparator(const std::string& path, char separator);

// Copies sourcePath into the package cache under its own name, replacing a file of that name,
// creating the cache folder when missing. Logs "Copy DFU file to cache success, %s" or
// "... failed, %s" with the destination; a path with no separator copies and logs nothing.
// Blocks for the copy. Called on the download thread.
void CopyPackageToCache(const std::string& sourcePath);
