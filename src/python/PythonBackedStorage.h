#ifndef QUORVANE_PYTHON_PYTHONBACKEDSTORAGE_H
#define QUORVANE_PYTHON_PYTHONBACKEDSTORAGE_H

#include <pybind11/pybind11.h>

#include <string>

#include "hebase/Storage.h"

namespace quorvane {

/// A storage whose buffers are served by a Python handler object with the
/// methods get_buffer_for_read(name) -> bytes, on_buffer_write_open(name) and
/// on_buffer_write_close(name, data). Buffers are held whole in memory; a
/// written buffer reaches the handler once, complete, when it is closed. A
/// write that is abandoned (its save failed) never reaches the handler, so the
/// handler's previous contents stay intact. Used only with the GIL held.
class PythonBackedStorage : public Storage
{
public:
  /// Takes the handler's three methods; a missing one raises the attribute
  /// lookup's error, one that is not callable std::invalid_argument.
  explicit PythonBackedStorage(pybind11::object handler);
  ~PythonBackedStorage() override;

  Buffer openBufferForRead(const std::string& name) override;
  Buffer openBufferForWrite(const std::string& name) override;
  /// Hands a written buffer's complete data to on_buffer_write_close.
  void closeBuffer(Buffer& buffer) override;
  /// Drops an unfinished write without calling the handler.
  void discardBuffer(Buffer& buffer) override;

private:
  pybind11::object getBufferForRead;
  pybind11::object onBufferWriteOpen;
  pybind11::object onBufferWriteClose;
};

} // namespace quorvane

#endif
