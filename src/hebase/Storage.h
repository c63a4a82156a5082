#ifndef QUORVANE_HEBASE_STORAGE_H
#define QUORVANE_HEBASE_STORAGE_H

#include <memory>
#include <string>

#include "hebase/Buffer.h"

namespace quorvane {

class HeContext;
class Saveable;

/// A named collection of byte buffers to which saveable objects are saved or
/// attached.
class Storage
{
public:
  virtual ~Storage();

  /// Opens the named buffer for reading.
  virtual Buffer openBufferForRead(const std::string& name) = 0;

  /// Opens the named buffer for writing.
  virtual Buffer openBufferForWrite(const std::string& name) = 0;

  /// Completes a buffer; called by the buffer once, when it is closed.
  /// Throws when a write cannot be completed.
  virtual void closeBuffer(Buffer& buffer) = 0;

  /// Abandons a buffer that was not closed; called by the buffer once, from
  /// its destructor. By default it closes the buffer.
  virtual void discardBuffer(Buffer& buffer);

  /// Saves the object into the named buffer.
  void save(const Saveable& object, const std::string& name);

  /// Loads the object saved in the named buffer, of whatever registered class
  /// its header names.
  std::shared_ptr<Saveable> load(const HeContext& he, const std::string& name);
};

} // namespace quorvane

#endif
