#ifndef QUORVANE_HEBASE_BUFFER_H
#define QUORVANE_HEBASE_BUFFER_H

#include <iosfwd>
#include <memory>
#include <string>

namespace quorvane {

class Storage;

/// One open buffer of a storage: the stream to read or write, and the duty to
/// hand the buffer back to its storage exactly once. Close it explicitly to
/// complete a write; a buffer still open when destroyed is discarded.
class Buffer
{
public:
  enum Mode
  {
    CLOSED = 0,
    OPEN_IN = 1,
    OPEN_OUT = 2
  };

  /// A buffer open for reading from the given stream.
  Buffer(Storage& owner, const std::string& name, std::shared_ptr<std::istream> inStream);

  /// A buffer open for writing into the given stream.
  Buffer(Storage& owner, const std::string& name, std::shared_ptr<std::ostream> outStream);

  /// Takes over an open buffer; the source ends closed.
  Buffer(Buffer&& other) noexcept;

  Buffer(const Buffer&) = delete;
  Buffer& operator=(const Buffer&) = delete;
  Buffer& operator=(Buffer&&) = delete;

  /// Discards the buffer if it is still open; never throws.
  ~Buffer();

  /// The input stream; asserts the buffer is open for reading.
  std::istream& in();

  /// The output stream; asserts the buffer is open for writing.
  std::ostream& out();

  /// Hands the buffer back to its storage once; a failure to complete the
  /// write is thrown. Later calls do nothing.
  void close();

  const std::string& getName() const { return name; }
  Mode getMode() const { return mode; }
  bool isOpen() const { return mode != CLOSED; }

private:
  Storage* owner;
  std::string name;
  std::shared_ptr<std::ostream> outStream;
  std::shared_ptr<std::istream> inStream;
  Mode mode;
};

} // namespace quorvane

#endif
