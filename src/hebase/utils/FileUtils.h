#ifndef QUORVANE_HEBASE_UTILS_FILEUTILS_H
#define QUORVANE_HEBASE_UTILS_FILEUTILS_H

#include <fstream>
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

/// A fresh name beside path: path, ".tmp-" and a unique suffix.
std::string temporaryPathFor(const std::string& path);

/// A binary file written under a temporary name and moved to its final path
/// only once complete, so that a failed write never leaves a partial file
/// there. Failures of writes and of the final flush throw the stream's
/// failure exception. A file that is not committed is removed.
class PendingFile : public std::ofstream
{
public:
  /// Writes beside finalPath. Refuses with std::runtime_error
  /// "Failed to open file " + finalPath when finalPath is a directory or the
  /// temporary file cannot be made.
  explicit PendingFile(const std::string& finalPath);

  /// Writes to tempPath; refuses with std::runtime_error(openFailureMessage)
  /// when it cannot be made.
  PendingFile(const std::string& finalPath, const std::string& tempPath,
              const std::string& openFailureMessage);

  /// Discards the file unless it was committed; never throws.
  ~PendingFile() override;

  /// Closes the file and moves it over finalPath, replacing what is there.
  /// A file is committed or discarded once.
  void commit();

  /// Closes the file and moves it to finalPath unless something exists
  /// there already; then the file is discarded and the result is false.
  bool commitIfAbsent();

  /// Closes the file and removes it; does nothing once committed.
  void discard() noexcept;

  const std::string& getFinalPath() const { return finalPath; }

private:
  std::string finalPath;
  std::string tempPath;
  bool finished = false;

  void openTemporary(const std::string& openFailureMessage);
  bool finish(bool replace);
};

} // namespace FileUtils

/// The resources directory: QUORVANE_RESOURCES_DIR when set, else "../resources".
std::string getResourcesDir();

} // namespace quorvane

#endif
