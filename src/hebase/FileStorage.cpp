#include "hebase/FileStorage.h"

#include <fstream>
#include <stdexcept>

#ifdef __linux__
#include <sys/xattr.h>
#endif

#include <boost/filesystem.hpp>

#include "hebase/utils/Assert.h"
#include "hebase/utils/FileUtils.h"

namespace fs = boost::filesystem;

namespace quorvane {

const char* const FileStorage::MARKER_FILE_NAME = ".quorvane-file-storage";
const char* const FileStorage::MARKER_ATTRIBUTE_NAME = "user.quorvane.file-storage";

namespace {

std::string alreadyExistsMessage(const std::string& filePath, const std::string& name)
{
  return "FileStorage at path " + filePath + " trying to write to file " + name +
         " but file already exists.";
}

// Everything was read already; closing an input file loses nothing.
void closeInput(Buffer& buffer)
{
  if (auto* file = dynamic_cast<std::ifstream*>(&buffer.in())) {
    file->exceptions(std::ios::goodbit);
    file->close();
  }
}

// Marks a new storage directory: by an extended attribute, which keeps the
// directory holding nothing but buffer files, else by a marker file.
void markStorageDirectory(const fs::path& dir, const std::string& path)
{
#ifdef __linux__
  if (::lsetxattr(dir.c_str(), FileStorage::MARKER_ATTRIBUTE_NAME, "1", 1, 0) == 0)
    return;
#endif
  std::ofstream marker((dir / FileStorage::MARKER_FILE_NAME).string(),
                       std::ios::out | std::ios::binary);
  marker << "Quorvane FileStorage\n";
  marker.close();
  if (marker.fail())
    throw std::runtime_error("Cannot create FileStorage at path " + path +
                             ": failed to write its marker file.");
}

} // namespace

bool FileStorage::isFileStorageDirectory(const std::string& path)
{
  fs::path dir(path);
  boost::system::error_code ec;
  if (fs::symlink_status(dir, ec).type() != fs::directory_file)
    return false;
#ifdef __linux__
  if (::lgetxattr(dir.c_str(), MARKER_ATTRIBUTE_NAME, nullptr, 0) >= 0)
    return true;
#endif
  return fs::is_regular_file(fs::symlink_status(dir / MARKER_FILE_NAME, ec));
}

FileStorage::FileStorage(const std::string& path, bool create) : path(path)
{
  // The system would cut the path at a NUL and use (or wipe) another directory.
  if (path.find('\0') != std::string::npos)
    throw std::invalid_argument("Cannot " + std::string(create ? "create" : "open") +
                                " FileStorage at path " + FileUtils::printablePath(path) +
                                ": the path holds a NUL character");
  fs::path dir(path);
  if (create) {
    // Only a file storage or an empty directory may be wiped.
    fs::file_status status = fs::symlink_status(dir);
    if (status.type() != fs::file_not_found) {
      if (status.type() != fs::directory_file)
        throw std::invalid_argument("Cannot create FileStorage at path " + path +
                                    ": the path exists and is not a directory. Remove it or "
                                    "choose another path.");
      if (!isFileStorageDirectory(path) && !fs::is_empty(dir))
        throw std::invalid_argument("Cannot create FileStorage at path " + path +
                                    ": the directory is not empty and is not a FileStorage "
                                    "directory. Remove it or choose another path.");
    }
    FileUtils::createCleanDir(path);
    markStorageDirectory(dir, path);
  } else {
    if (!FileUtils::pathExists(path))
      throw std::invalid_argument("Cannot open FileStorage with path " + path +
                                  ": path doesn't exist. Create it or turn on the 'create' "
                                  "flag.");
    if (!fs::is_directory(dir))
      throw std::invalid_argument("Cannot open FileStorage with path " + path +
                                  ": path is not a directory.");
  }
}

FileStorage::~FileStorage() {}

std::string FileStorage::filePath(const std::string& name) const
{
  return path + "/" + name;
}

void FileStorage::validateBufferName(const std::string& name) const
{
  if (name.find('\0') != std::string::npos)
    throw std::invalid_argument("Illegal buffer name: " + FileUtils::printablePath(name) +
                                ": FileStorage doesn't support buffer names holding a NUL "
                                "character.");
  if (name.find('/') != std::string::npos || name.find('\\') != std::string::npos)
    throw std::invalid_argument("Illegal buffer name: " + name +
                                ": FileStorage currently doesn't support buffer names with path "
                                "seperators, slashes or backslashes.");
  if (name.compare(0, std::string(MARKER_FILE_NAME).size(), MARKER_FILE_NAME) == 0)
    throw std::invalid_argument("Illegal buffer name: " + name + ": names beginning with " +
                                MARKER_FILE_NAME + " are reserved by FileStorage.");
}

Buffer FileStorage::openBufferForRead(const std::string& name)
{
  validateBufferName(name);
  std::string file = filePath(name);
  auto stream = std::make_shared<std::ifstream>();
  boost::system::error_code ec;
  if (!fs::is_directory(fs::path(file), ec))
    stream->open(file, std::ios::in | std::ios::binary);
  if (!stream->is_open() || stream->fail())
    throw std::runtime_error("FileStorage at path " + file + " failed to open file " + name +
                             " for reading.");
  stream->exceptions(std::ios::failbit | std::ios::badbit);
  return Buffer(*this, name, std::shared_ptr<std::istream>(stream));
}

Buffer FileStorage::openBufferForWrite(const std::string& name)
{
  validateBufferName(name);
  std::string file = filePath(name);
  if (FileUtils::pathExists(file))
    throw std::invalid_argument(alreadyExistsMessage(file, name));
  // Written under a reserved name and moved into place when the buffer closes.
  auto stream = std::make_shared<FileUtils::PendingFile>(
      file, FileUtils::temporaryPathFor(filePath(MARKER_FILE_NAME)),
      "FileStorage at path " + file + " failed to open file " + name + " for writing.");
  return Buffer(*this, name, std::shared_ptr<std::ostream>(stream));
}

void FileStorage::closeBuffer(Buffer& buffer)
{
  if (buffer.getMode() == Buffer::OPEN_IN) {
    closeInput(buffer);
    return;
  }
  auto* file = dynamic_cast<FileUtils::PendingFile*>(&buffer.out());
  QV_ASSERT(file != nullptr, "the buffer was not opened by this FileStorage");
  if (!file->commitIfAbsent())
    throw std::invalid_argument(alreadyExistsMessage(file->getFinalPath(), buffer.getName()));
}

void FileStorage::discardBuffer(Buffer& buffer)
{
  if (buffer.getMode() == Buffer::OPEN_IN) {
    closeInput(buffer);
    return;
  }
  if (auto* file = dynamic_cast<FileUtils::PendingFile*>(&buffer.out()))
    file->discard();
}

} // namespace quorvane
