#include "hebase/utils/FileUtils.h"

#include <cstdlib>
#include <fstream>
#include <stdexcept>

#include <boost/filesystem.hpp>

namespace fs = boost::filesystem;

namespace quorvane {

namespace FileUtils {

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

namespace {

// A directory opens as a stream on some systems but is no file to read or write.
bool isDirectory(const std::string& path)
{
  boost::system::error_code ec;
  return fs::is_directory(fs::path(path), ec);
}

} // namespace

std::ifstream openFileForRead(const std::string& path, std::ios::openmode mode,
                              std::ios::iostate exceptionMask)
{
  if (isDirectory(path))
    throw std::runtime_error("Failed to open file " + path);
  std::ifstream in(path, mode | std::ios::in);
  if (in.fail() || in.bad())
    throw std::runtime_error("Failed to open file " + path);
  in.exceptions(exceptionMask);
  return in;
}

std::ofstream openFileForWrite(const std::string& path, std::ios::openmode mode,
                               std::ios::iostate exceptionMask)
{
  if (isDirectory(path))
    throw std::runtime_error("Failed to open file " + path);
  std::ofstream out(path, mode | std::ios::out);
  if (out.fail() || out.bad())
    throw std::runtime_error("Failed to open file " + path);
  out.exceptions(exceptionMask);
  return out;
}

} // namespace FileUtils

std::string getResourcesDir()
{
  const char* value = std::getenv("QUORVANE_RESOURCES_DIR");
  return value != nullptr ? std::string(value) : std::string("../resources");
}

} // namespace quorvane
