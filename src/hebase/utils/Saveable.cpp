#include "hebase/utils/Saveable.h"

#include <fstream>
#include <streambuf>

#include "hebase/Storage.h"
#include "hebase/utils/Assert.h"
#include "hebase/utils/FileUtils.h"
#include "hebase/utils/SaveableHeader.h"

namespace quorvane {

namespace {

// Forwards writes to another stream buffer and counts them.
class CountingOutBuf : public std::streambuf
{
public:
  explicit CountingOutBuf(std::streambuf* target) : target(target) {}
  std::streamoff count() const { return written; }

protected:
  int_type overflow(int_type c) override
  {
    if (traits_type::eq_int_type(c, traits_type::eof()))
      return traits_type::not_eof(c);
    if (traits_type::eq_int_type(target->sputc(traits_type::to_char_type(c)),
                                 traits_type::eof()))
      return traits_type::eof();
    ++written;
    return c;
  }
  std::streamsize xsputn(const char* s, std::streamsize n) override
  {
    std::streamsize done = target->sputn(s, n);
    written += done;
    return done;
  }
  int sync() override { return target->pubsync(); }

private:
  std::streambuf* target;
  std::streamoff written = 0;
};

// Forwards reads from another stream buffer and counts the bytes consumed.
class CountingInBuf : public std::streambuf
{
public:
  explicit CountingInBuf(std::streambuf* source) : source(source) {}
  std::streamoff count() const { return consumed; }

protected:
  int_type underflow() override { return source->sgetc(); }
  int_type uflow() override
  {
    int_type c = source->sbumpc();
    if (!traits_type::eq_int_type(c, traits_type::eof()))
      ++consumed;
    return c;
  }
  std::streamsize xsgetn(char* s, std::streamsize n) override
  {
    std::streamsize done = source->sgetn(s, n);
    consumed += done;
    return done;
  }
  int_type pbackfail(int_type c) override
  {
    int_type r = traits_type::eq_int_type(c, traits_type::eof())
                     ? source->sungetc()
                     : source->sputbackc(traits_type::to_char_type(c));
    if (!traits_type::eq_int_type(r, traits_type::eof()))
      --consumed;
    return r;
  }

private:
  std::streambuf* source;
  std::streamoff consumed = 0;
};

// Runs op on the stream and returns the number of bytes it moved: the
// difference of the stream positions, or, for a stream that cannot report its
// position, a count taken by routing its buffer through a counter.
template <typename Stream, typename CountingBuf, typename TellFn, typename Op>
std::streamoff measure(Stream& stream, TellFn tell, Op op)
{
  std::streamoff start = tell(stream);
  if (start != -1 || !stream.good()) {
    op();
    std::streamoff end = tell(stream);
    return end - start;
  }
  std::streambuf* original = stream.rdbuf();
  CountingBuf counter(original);
  stream.rdbuf(&counter);
  try {
    op();
  } catch (...) {
    std::ios::iostate state = stream.rdstate();
    stream.rdbuf(original);
    try {
      stream.setstate(state);
    } catch (...) {
    }
    throw;
  }
  std::ios::iostate state = stream.rdstate();
  stream.rdbuf(original);
  stream.setstate(state);
  return counter.count();
}

} // namespace

void SaveableBasic::debugPrint(const std::string&, Verbosity, std::ostream& out) const
{
  out << "Object (detailed printing not implemented yet)";
}

Saveable::~Saveable() {}

std::streamoff Saveable::save(std::ostream& out) const
{
  // An attached object is refused by savePart, before its content is looked at.
  if (!storage)
    checkSavable();
  return savePart(out);
}

std::streamoff Saveable::savePart(std::ostream& out) const
{
  if (storage)
    throw std::runtime_error(
        "Cannot save an object that is attached to a Storage object. Flush to storage instead.");
  return measure<std::ostream, CountingOutBuf>(
      out, [](std::ostream& s) { return static_cast<std::streamoff>(s.tellp()); },
      [&]() {
        saveHeader(out);
        if (allowsStorage())
          saveMetadata(out);
        saveImpl(out);
      });
}

void Saveable::checkSavable() const {}

std::streamoff Saveable::load(std::istream& in)
{
  if (storage)
    throw std::runtime_error("Cannot load an object that is attached to a Storage object. "
                             "Loading will be done automatically.");
  return measure<std::istream, CountingInBuf>(
      in, [](std::istream& s) { return static_cast<std::streamoff>(s.tellg()); },
      [&]() {
        SaveableHeader header(in);
        load(in, header);
      });
}

void Saveable::load(std::istream& in, const SaveableHeader& header)
{
  if (storage)
    throw std::runtime_error("Cannot load an object that is attached to a Storage object. "
                             "Loading will be done automatically.");
  validateHeader(header);
  if (allowsStorage())
    loadMetadata(in);
  loadImpl(in);
  populated = true;
}

void Saveable::saveMetadata(std::ostream&) const
{
  QV_ASSERT(allowsStorage());
}

void Saveable::loadMetadata(std::istream&)
{
  QV_ASSERT(allowsStorage());
}

bool Saveable::allowsStorage() const
{
  return false;
}

void Saveable::saveHeader(std::ostream& out) const
{
  SaveableHeader(getClassName(), getContextId()).save(out);
}

void Saveable::validateHeader(const SaveableHeader& header) const
{
  std::string expected = getClassName();
  if (header.className != expected)
    header.reportClassNameMismatch(expected);
  // Plaintext tiles load into any context.
  if (header.contextId != getContextId() && header.className != "PTile")
    header.reportContextMismatch(getContextId());
}

std::streamoff Saveable::saveToFile(const std::string& path) const
{
  // The file replaces an earlier one only once it is complete.
  FileUtils::PendingFile out(path);
  std::streamoff count = out.writeWith([&] { return save(out); });
  out.commit();
  return count;
}

std::streamoff Saveable::loadFromFile(const std::string& path)
{
  std::ifstream in = openBinaryFileForRead(path);
  std::streamoff count = load(in);
  in.close();
  return count;
}

std::ifstream Saveable::openBinaryFileForRead(const std::string& path)
{
  std::ifstream in =
      FileUtils::openFileForRead(path, std::ios::binary, std::ios::failbit | std::ios::badbit);
  // Nothing saved is empty; say so rather than fail on the first field.
  if (std::ifstream::traits_type::eq_int_type(in.peek(), std::ifstream::traits_type::eof())) {
    in.clear();
    throw std::runtime_error("Failed to read file " + FileUtils::printablePath(path) +
                             ": file is empty");
  }
  return in;
}

std::ofstream Saveable::openBinaryFileForWrite(const std::string& path)
{
  return FileUtils::openFileForWrite(path, std::ios::binary | std::ios::trunc,
                                     std::ios::failbit | std::ios::badbit);
}

void Saveable::checkAttachable(const std::shared_ptr<Storage>& newStorage,
                               const char* alreadyAttachedMessage) const
{
  if (!allowsStorage())
    throw std::runtime_error("This object type doesn't support Storage");
  if (storage)
    throw std::runtime_error(alreadyAttachedMessage);
  if (populated)
    throw std::runtime_error("This object is already fully or partially populated, can only "
                             "attach a storage to a completely empty object");
  if (!newStorage)
    throw std::invalid_argument("Cannot attach a null storage");
}

void Saveable::attachInputStorage(std::shared_ptr<Storage> newStorage)
{
  checkAttachable(newStorage, "This object is already attached to a storage");
  Buffer headerBuffer = newStorage->openBufferForRead("header");
  SaveableHeader header(headerBuffer.in());
  headerBuffer.close();
  validateHeader(header);
  // The object counts as attached while its metadata loads; a failure undoes it.
  storage = newStorage;
  attachedForInput = true;
  try {
    Buffer metadataBuffer = storage->openBufferForRead("metadata");
    loadMetadata(metadataBuffer.in());
    metadataBuffer.close();
  } catch (...) {
    storage.reset();
    attachedForInput = false;
    throw;
  }
}

void Saveable::attachOutputStorage(std::shared_ptr<Storage> newStorage)
{
  checkAttachable(newStorage, "This object is already attached to a Storage object");
  Buffer headerBuffer = newStorage->openBufferForWrite("header");
  saveHeader(headerBuffer.out());
  headerBuffer.close();
  storage = newStorage;
  attachedForInput = false;
}

void Saveable::flushToStorage()
{
  if (!storage || attachedForInput)
    throw std::runtime_error(
        "This object is not attached to a Storage object, cannot flush. Save the object instead.");
  Buffer metadataBuffer = storage->openBufferForWrite("metadata");
  saveMetadata(metadataBuffer.out());
  metadataBuffer.close();
}

bool Saveable::isInputStorageAttached() const
{
  return storage && attachedForInput;
}

bool Saveable::isOutputStorageAttached() const
{
  return storage && !attachedForInput;
}

Storage& Saveable::getInputStorage() const
{
  QV_ASSERT(isInputStorageAttached());
  return *storage;
}

Storage& Saveable::getOutputStorage() const
{
  QV_ASSERT(isOutputStorageAttached());
  return *storage;
}

void Saveable::markPopulated()
{
  populated = true;
}

Saveable::LoaderRegistry& Saveable::getLoaderRegistry()
{
  static LoaderRegistry registry;
  return registry;
}

bool Saveable::registerLoadFunction(const std::string& name, LoadFunction function)
{
  if (function == nullptr)
    throw std::invalid_argument("Cannot register a null load function of object " + name);
  if (!getLoaderRegistry().emplace(name, function).second)
    throw std::runtime_error("Duplicate load function of object " + name);
  return true;
}

std::shared_ptr<Saveable> Saveable::loadSaveable(const HeContext& he, std::istream& in)
{
  SaveableHeader header(in);
  const LoaderRegistry& registry = getLoaderRegistry();
  auto it = registry.find(header.className);
  if (it == registry.end())
    throw std::runtime_error("File contains unrecognized Saveable object " + header.className);
  std::shared_ptr<Saveable> loaded = it->second(he, header, in);
  if (!loaded)
    throw std::runtime_error("The load function of object " + header.className +
                             " returned no object");
  return loaded;
}

} // namespace quorvane
