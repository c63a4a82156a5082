#ifndef QUORVANE_TESTS_CPP_MEMORYSTORAGE_H
#define QUORVANE_TESTS_CPP_MEMORYSTORAGE_H

#include <map>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "hebase/Buffer.h"
#include "hebase/Storage.h"

namespace qvtest {

/// A storage holding its buffers in memory. It logs every call ("read <name>",
/// "write <name>", "close <name>", "discard <name>") and can fail closing a
/// chosen buffer.
class MemoryStorage : public quorvane::Storage
{
public:
  std::map<std::string, std::string> buffers;
  std::vector<std::string> log;
  std::string failCloseOf;

  quorvane::Buffer openBufferForRead(const std::string& name) override
  {
    log.push_back("read " + name);
    auto it = buffers.find(name);
    if (it == buffers.end())
      throw std::runtime_error("no buffer " + name);
    return quorvane::Buffer(*this, name, openInput(it->second));
  }
  quorvane::Buffer openBufferForWrite(const std::string& name) override
  {
    log.push_back("write " + name);
    return quorvane::Buffer(*this, name,
                            std::shared_ptr<std::ostream>(new std::ostringstream()));
  }
  void closeBuffer(quorvane::Buffer& buffer) override
  {
    log.push_back("close " + buffer.getName());
    if (buffer.getName() == failCloseOf)
      throw std::runtime_error("close of " + buffer.getName() + " failed");
    if (buffer.getMode() == quorvane::Buffer::OPEN_OUT)
      buffers[buffer.getName()] = static_cast<std::ostringstream&>(buffer.out()).str();
  }
  void discardBuffer(quorvane::Buffer& buffer) override
  {
    log.push_back("discard " + buffer.getName());
  }

  /// How many times the named buffer was opened for reading.
  int readsOf(const std::string& name) const
  {
    int count = 0;
    for (const std::string& entry : log)
      count += entry == "read " + name;
    return count;
  }

protected:
  /// The stream a buffer holding the bytes is read from.
  virtual std::shared_ptr<std::istream> openInput(const std::string& bytes)
  {
    return std::make_shared<std::istringstream>(bytes);
  }
};

} // namespace qvtest

#endif
