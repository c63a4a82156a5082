#include "hebase/Storage.h"

#include "hebase/utils/Saveable.h"

namespace quorvane {

Storage::~Storage() {}

void Storage::discardBuffer(Buffer& buffer)
{
  closeBuffer(buffer);
}

void Storage::save(const Saveable& object, const std::string& name)
{
  Buffer buffer = openBufferForWrite(name);
  object.save(buffer.out());
  buffer.close();
}

std::shared_ptr<Saveable> Storage::load(const HeContext& he, const std::string& name)
{
  Buffer buffer = openBufferForRead(name);
  std::shared_ptr<Saveable> loaded = Saveable::loadSaveable(he, buffer.in());
  buffer.close();
  return loaded;
}

} // namespace quorvane
