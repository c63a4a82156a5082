#ifndef QUORVANE_HEBASE_UTILS_FILEUTILS_H
#define QUORVANE_HEBASE_UTILS_FILEUTILS_H

#include <iosfwd>
#include <ios>
#include <string>

namespace quorvane {

/// File-system helpers.
namespace FileUtils {

/// Deletes whatever is at dirName and creates an empty directory there.
/// The name must have at least 3 characters after its first "/".
void createCleanDir(const std::string& dirName);

/// Creates one directory (its parent must exist); an existing one is no error.
void createDir(const std::string& dirName);

/// True when anything exists at the path.
bool pathExists(const std::string& path);

/// Opens a file for reading (mode plus std::ios::in), then sets the exception mask.
std::ifstream openFileForRead(const std::string& path, std::ios::openmode mode,
                              std::ios::iostate exceptionMask);

/// Opens a file for writing (mode plus std::ios::out, truncating), then sets
/// the exception mask.
std::ofstream openFileForWrite(const std::string& path, std::ios::openmode mode,
                               std::ios::iostate exceptionMask);

} // namespace FileUtils

/// The resources directory: QUORVANE_RESOURCES_DIR when set, else "../resources".
std::string getResourcesDir();

} // namespace quorvane

#endif
