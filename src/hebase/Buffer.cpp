#include "hebase/Buffer.h"

#include <iostream>

#include "hebase/Storage.h"
#include "hebase/utils/Assert.h"

namespace quorvane {

Buffer::Buffer(Storage& owner, const std::string& name, std::shared_ptr<std::istream> inStream)
    : owner(&owner), name(name), inStream(std::move(inStream)), mode(OPEN_IN)
{
  QV_ASSERT(this->inStream != nullptr);
}

Buffer::Buffer(Storage& owner, const std::string& name, std::shared_ptr<std::ostream> outStream)
    : owner(&owner), name(name), outStream(std::move(outStream)), mode(OPEN_OUT)
{
  QV_ASSERT(this->outStream != nullptr);
}

Buffer::Buffer(Buffer&& other) noexcept
    : owner(other.owner), name(std::move(other.name)), outStream(std::move(other.outStream)),
      inStream(std::move(other.inStream)), mode(other.mode)
{
  other.mode = CLOSED;
}

Buffer::~Buffer()
{
  if (mode == CLOSED)
    return;
  try {
    owner->discardBuffer(*this);
  } catch (const std::exception& e) {
    std::cerr << "Warning: failed to release buffer " << name << ": " << e.what() << std::endl;
  } catch (...) {
    std::cerr << "Warning: failed to release buffer " << name << std::endl;
  }
  mode = CLOSED;
}

std::istream& Buffer::in()
{
  QV_ASSERT(mode == OPEN_IN);
  return *inStream;
}

std::ostream& Buffer::out()
{
  QV_ASSERT(mode == OPEN_OUT);
  return *outStream;
}

void Buffer::close()
{
  if (mode == CLOSED)
    return;
  // The storage sees the buffer once, even when completing it fails.
  struct MarkClosed
  {
    Mode& mode;
    ~MarkClosed() { mode = CLOSED; }
  } markClosed{mode};
  owner->closeBuffer(*this);
}

} // namespace quorvane
