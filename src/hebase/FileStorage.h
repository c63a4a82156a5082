#ifndef QUORVANE_HEBASE_FILESTORAGE_H
#define QUORVANE_HEBASE_FILESTORAGE_H

#include <string>

#include "hebase/Storage.h"

namespace quorvane {

/// A storage whose buffers are the files of one directory, each written once.
/// A directory made with the create flag is marked as a file storage (by an
/// extended attribute, or by a marker file where the file system has none);
/// only such a directory (or an empty one) is cleaned on creation.
class FileStorage : public Storage
{
public:
  /// Name of the marker file of a directory created as a file storage on a
  /// file system without extended attributes; also the prefix of the
  /// storage's temporary files.
  static const char* const MARKER_FILE_NAME;

  /// Name of the extended attribute that marks a file storage directory.
  static const char* const MARKER_ATTRIBUTE_NAME;

  /// Whether path is a directory that was created as a file storage.
  static bool isFileStorageDirectory(const std::string& path);

  /// Opens the storage at a directory. With create, an empty storage is made
  /// there: a missing path is created, a file storage or an empty directory is
  /// cleaned, and anything else is refused.
  FileStorage(const std::string& path, bool create);

  ~FileStorage() override;

  Buffer openBufferForRead(const std::string& name) override;

  /// Writes go to a temporary file, which becomes the buffer's file when the
  /// buffer is closed successfully.
  Buffer openBufferForWrite(const std::string& name) override;

  void closeBuffer(Buffer& buffer) override;

  /// Removes the temporary file of an unfinished write.
  void discardBuffer(Buffer& buffer) override;

  /// Refuses names with a path separator and names reserved by the storage.
  void validateBufferName(const std::string& name) const;

  const std::string& getPath() const { return path; }

private:
  std::string path;

  std::string filePath(const std::string& name) const;
};

} // namespace quorvane

#endif
