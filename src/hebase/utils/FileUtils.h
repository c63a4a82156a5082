#ifndef QUORVANE_HEBASE_UTILS_FILEUTILS_H
#define QUORVANE_HEBASE_UTILS_FILEUTILS_H

#include <cerrno>
#include <fstream>
#include <ios>
#include <string>

namespace quorvane {

/// File-system helpers.
namespace FileUtils {

/// Who may read a file that a PendingFile creates.
enum class FileAccess
{
  /// As the process's file-creation mask allows (read and write for all, less the mask).
  DEFAULT,
  /// Read and write for the owner only (mode 0600); for files holding a secret key.
  OWNER_ONLY
};

/// What makes a path unusable: "empty path", "the path holds a NUL character"
/// (the system would cut it there), or "" for none.
std::string pathProblem(const std::string& path);

/// The path for messages, a NUL character written as "\0".
std::string printablePath(const std::string& path);

/// Deletes whatever is at dirName and creates an empty directory there.
/// The name must have at least 3 characters after its first "/" and hold no
/// NUL character (std::invalid_argument).
void createCleanDir(const std::string& dirName);

/// Creates one directory (its parent must exist); an existing one is no error.
void createDir(const std::string& dirName);

/// True when anything exists at the path.
bool pathExists(const std::string& path);

/// Opens a file for reading (mode plus std::ios::in), then sets the exception mask.
/// Refuses with std::runtime_error "Failed to open file " + path when it
/// cannot be opened ("Failed to open file : empty path" for an empty path),
/// and with std::invalid_argument a path holding a NUL character.
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
/// failure exception; writeWith and commit report them as std::ios_base::failure
/// "Failed to write file <final path>: <the system's reason>". A file that is
/// not committed is removed.
///
/// A final path that is a symbolic link is written through: the temporary
/// file is made beside the link's target, which it replaces.
class PendingFile : public std::ofstream
{
public:
  /// Writes beside finalPath (or the target of the link there). Refuses with
  /// std::runtime_error "Failed to open file " + finalPath when finalPath is a
  /// directory or the temporary file cannot be made, with ": empty path"
  /// added for an empty path, ": the path exists and is not a regular file"
  /// for a FIFO, device or socket there, ": too many levels of symbolic links"
  /// for a loop of links; with std::invalid_argument for a path holding a NUL
  /// character.
  explicit PendingFile(const std::string& finalPath, FileAccess access = FileAccess::DEFAULT);

  /// Writes to tempPath; refuses with std::runtime_error(openFailureMessage)
  /// when it cannot be made.
  PendingFile(const std::string& finalPath, const std::string& tempPath,
              const std::string& openFailureMessage);

  /// Runs write (which writes to this file) and returns its result; when the
  /// stream fails, the file is discarded and the failure reported as above.
  template <typename Write>
  auto writeWith(Write&& write) -> decltype(write())
  {
    errno = 0;
    try {
      return write();
    } catch (...) {
      int error = errno;
      reportFailure(error);
      throw;
    }
  }

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
  /// Where the file goes: finalPath, or the target of the links there.
  std::string targetPath;
  std::string tempPath;
  bool finished = false;

  void openTemporary(const std::string& openFailureMessage, FileAccess access);
  bool finish(bool replace);
  /// When the stream failed: discards the file and throws the write failure
  /// with the system's reason error; otherwise returns.
  void reportFailure(int error);
};

} // namespace FileUtils

/// The resources directory: QUORVANE_RESOURCES_DIR when set, else "../resources".
std::string getResourcesDir();

} // namespace quorvane

#endif
