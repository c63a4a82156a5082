#include "hebase/utils/FileUtils.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <stdexcept>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <boost/filesystem.hpp>

#include "hebase/utils/Assert.h"

namespace fs = boost::filesystem;

namespace quorvane {

namespace FileUtils {

namespace {

/// Links followed before a save gives up, as the system does.
constexpr int MAX_LINKS = 40;

std::string openFailure(const std::string& path) { return "Failed to open file " + printablePath(path); }

/// Refuses a path that cannot name a file: std::runtime_error for an empty
/// one (it cannot be opened), std::invalid_argument for one holding a NUL.
void checkFilePath(const std::string& path)
{
  std::string problem = pathProblem(path);
  if (problem.empty())
    return;
  std::string message = openFailure(path) + ": " + problem;
  if (path.empty())
    throw std::runtime_error(message);
  throw std::invalid_argument(message);
}

// A directory opens as a stream on some systems but is no file to read or write.
bool isDirectory(const std::string& path)
{
  boost::system::error_code ec;
  return fs::is_directory(fs::path(path), ec);
}

template <typename Stream>
Stream openFile(const std::string& path, std::ios::openmode mode,
                std::ios::iostate exceptionMask)
{
  checkFilePath(path);
  if (isDirectory(path))
    throw std::runtime_error(openFailure(path));
  Stream stream(path, mode);
  if (stream.fail())
    throw std::runtime_error(openFailure(path));
  stream.exceptions(exceptionMask);
  return stream;
}

/// The file that a save to path writes: path itself, or the file its
/// symbolic links lead to (which need not exist yet).
std::string resolveLinks(const std::string& path)
{
  fs::path p(path);
  for (int links = 0; links <= MAX_LINKS; ++links) {
    boost::system::error_code ec;
    if (fs::symlink_status(p, ec).type() != fs::symlink_file)
      return p.string();
    fs::path target = fs::read_symlink(p, ec);
    if (ec)
      throw std::runtime_error(openFailure(path) + ": " + ec.message());
    p = target.is_absolute() ? target : p.parent_path() / target;
  }
  throw std::runtime_error(openFailure(path) + ": too many levels of symbolic links");
}

// Gives tempPath the name finalPath unless that exists; false then.
bool linkWithoutReplacing(const std::string& tempPath, const std::string& finalPath)
{
  if (::link(tempPath.c_str(), finalPath.c_str()) == 0) {
    boost::system::error_code ec;
    fs::remove(fs::path(tempPath), ec);
    return true;
  }
  if (errno == EEXIST)
    return false;
  // File systems without hard links.
  if (pathExists(finalPath))
    return false;
  fs::rename(fs::path(tempPath), fs::path(finalPath));
  return true;
}

} // namespace

std::string pathProblem(const std::string& path)
{
  if (path.empty())
    return "empty path";
  if (path.find('\0') != std::string::npos)
    return "the path holds a NUL character";
  return "";
}

std::string printablePath(const std::string& path)
{
  std::string res;
  for (char c : path) {
    if (c == '\0')
      res += "\\0";
    else
      res += c;
  }
  return res;
}

void createCleanDir(const std::string& dirName)
{
  // The system would cut the name at a NUL and wipe another directory.
  if (dirName.find('\0') != std::string::npos)
    throw std::invalid_argument("Cannot create a clean directory " + printablePath(dirName) +
                                ": the path holds a NUL character");
  // A short name is likely a mistake such as "." or "/a": refuse to wipe it.
  size_t slash = dirName.find('/');
  size_t n = slash == std::string::npos ? dirName.size() : dirName.size() - slash - 1;
  if (n < 3)
    throw std::runtime_error("Cannot create a clean directory " + dirName + " with " +
                             std::to_string(n) +
                             " characters, name must contain at least 3 characters");
  fs::path p(dirName);
  if (fs::symlink_status(p).type() != fs::file_not_found)
    fs::remove_all(p);
  fs::create_directory(p);
}

void createDir(const std::string& dirName)
{
  if (dirName.find('\0') != std::string::npos)
    throw std::invalid_argument("Cannot create directory " + printablePath(dirName) +
                                ": the path holds a NUL character");
  fs::create_directory(fs::path(dirName));
}

bool pathExists(const std::string& path)
{
  return fs::symlink_status(fs::path(path)).type() != fs::file_not_found;
}

std::ifstream openFileForRead(const std::string& path, std::ios::openmode mode,
                              std::ios::iostate exceptionMask)
{
  return openFile<std::ifstream>(path, mode | std::ios::in, exceptionMask);
}

std::ofstream openFileForWrite(const std::string& path, std::ios::openmode mode,
                               std::ios::iostate exceptionMask)
{
  return openFile<std::ofstream>(path, mode | std::ios::out, exceptionMask);
}

std::string temporaryPathFor(const std::string& path)
{
  static std::atomic<unsigned> counter{0};
  return path + ".tmp-" + fs::unique_path("%%%%%%%%").string() + "-" +
         std::to_string(counter++);
}

PendingFile::PendingFile(const std::string& finalPath, FileAccess access) : finalPath(finalPath)
{
  checkFilePath(finalPath);
  targetPath = resolveLinks(finalPath);
  boost::system::error_code ec;
  fs::file_type type = fs::symlink_status(fs::path(targetPath), ec).type();
  if (type == fs::directory_file)
    throw std::runtime_error(openFailure(finalPath));
  // A FIFO or a device would be replaced by a regular file.
  if (type != fs::file_not_found && type != fs::status_error && type != fs::regular_file)
    throw std::runtime_error(openFailure(finalPath) +
                             ": the path exists and is not a regular file");
  tempPath = temporaryPathFor(targetPath);
  openTemporary(openFailure(finalPath), access);
}

PendingFile::PendingFile(const std::string& finalPath, const std::string& tempPath,
                         const std::string& openFailureMessage)
    : finalPath(finalPath), targetPath(finalPath), tempPath(tempPath)
{
  openTemporary(openFailureMessage, FileAccess::DEFAULT);
}

PendingFile::~PendingFile()
{
  discard();
}

void PendingFile::openTemporary(const std::string& openFailureMessage, FileAccess access)
{
  // Made here with its final permissions, so that a file for the owner only
  // is never readable by others, not even for a moment.
  ::mode_t mode = access == FileAccess::OWNER_ONLY ? 0600 : 0666;
  int fd = ::open(tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
  if (fd < 0)
    throw std::runtime_error(openFailureMessage);
  ::close(fd);
  open(tempPath, std::ios::out | std::ios::binary | std::ios::trunc);
  if (fail()) {
    boost::system::error_code ec;
    fs::remove(fs::path(tempPath), ec);
    throw std::runtime_error(openFailureMessage);
  }
  exceptions(std::ios::failbit | std::ios::badbit);
}

void PendingFile::commit()
{
  finish(true);
}

bool PendingFile::commitIfAbsent()
{
  return finish(false);
}

bool PendingFile::finish(bool replace)
{
  QV_ASSERT(!finished, "the file was committed or discarded already");
  writeWith([this] { close(); }); // flushes; a failure is reported with its reason
  bool placed = false;
  try {
    if (replace) {
      boost::system::error_code ec;
      fs::rename(fs::path(tempPath), fs::path(targetPath), ec);
      if (ec)
        throw std::runtime_error("Failed to write file " + printablePath(finalPath) + ": " +
                                 ec.message());
      placed = true;
    } else {
      placed = linkWithoutReplacing(tempPath, targetPath);
    }
  } catch (...) {
    discard();
    throw;
  }
  if (!placed)
    discard();
  finished = true;
  return placed;
}

void PendingFile::reportFailure(int error)
{
  if (!fail() && !bad())
    return;
  discard();
  std::error_code code = error != 0 ? std::error_code(error, std::generic_category())
                                    : std::make_error_code(std::io_errc::stream);
  throw std::ios_base::failure("Failed to write file " + printablePath(finalPath), code);
}

void PendingFile::discard() noexcept
{
  if (finished)
    return;
  finished = true;
  try {
    exceptions(std::ios::goodbit);
    if (is_open())
      close();
  } catch (...) {
  }
  boost::system::error_code ec;
  fs::remove(fs::path(tempPath), ec);
}

} // namespace FileUtils

std::string getResourcesDir()
{
  const char* value = std::getenv("QUORVANE_RESOURCES_DIR");
  return value != nullptr ? std::string(value) : std::string("../resources");
}

} // namespace quorvane
