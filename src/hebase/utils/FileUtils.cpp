#include "hebase/utils/FileUtils.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <stdexcept>

#include <unistd.h>

#include <boost/filesystem.hpp>

#include "hebase/utils/Assert.h"

namespace fs = boost::filesystem;

namespace quorvane {

namespace FileUtils {

namespace {

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
  if (isDirectory(path))
    throw std::runtime_error("Failed to open file " + path);
  Stream stream(path, mode);
  if (stream.fail())
    throw std::runtime_error("Failed to open file " + path);
  stream.exceptions(exceptionMask);
  return stream;
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

void createCleanDir(const std::string& dirName)
{
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

PendingFile::PendingFile(const std::string& finalPath) : finalPath(finalPath)
{
  const std::string message = "Failed to open file " + finalPath;
  if (isDirectory(finalPath))
    throw std::runtime_error(message);
  tempPath = temporaryPathFor(finalPath);
  openTemporary(message);
}

PendingFile::PendingFile(const std::string& finalPath, const std::string& tempPath,
                         const std::string& openFailureMessage)
    : finalPath(finalPath), tempPath(tempPath)
{
  openTemporary(openFailureMessage);
}

PendingFile::~PendingFile()
{
  discard();
}

void PendingFile::openTemporary(const std::string& openFailureMessage)
{
  open(tempPath, std::ios::out | std::ios::binary | std::ios::trunc);
  if (fail())
    throw std::runtime_error(openFailureMessage);
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
  bool placed = false;
  try {
    close(); // flushes; a failure throws through the exception mask
    if (replace) {
      fs::rename(fs::path(tempPath), fs::path(finalPath));
      placed = true;
    } else {
      placed = linkWithoutReplacing(tempPath, finalPath);
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
