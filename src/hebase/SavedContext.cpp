// Saving and loading of contexts and secret keys, common to all backends.
#include "hebase/SavedContext.h"

#include <fstream>
#include <istream>
#include <ostream>
#include <sstream>
#include <stdexcept>

#include "hebase/BootstrapEvaluator.h"
#include "hebase/utils/Assert.h"
#include "hebase/utils/BinIoUtils.h"
#include "hebase/utils/FileUtils.h"
#include "hebase/utils/SaveableHeader.h"

namespace quorvane {

namespace {

const char* const CONTEXT_CLASS_NAME = "HeContext";
const char* const SECRET_KEY_CLASS_NAME = "SECRETKEY";
/// Largest stored length of the registry key of a saved context (NUL included).
const int64_t MAX_KEY_LENGTH = 10240;

int64_t streamDistance(std::streampos before, std::streampos after)
{
  if (before == std::streampos(-1) || after == std::streampos(-1))
    throw std::runtime_error("Cannot determine the stream position");
  return static_cast<int64_t>(after - before);
}

} // namespace

// ---- KeySaver ----

HeContext::KeySaver::~KeySaver() {}

int32_t HeContext::KeySaver::getContextId() const { return he->getContextId(); }

void HeContext::KeySaver::saveImpl(std::ostream&) const {}

void HeContext::KeySaver::loadImpl(std::istream&) {}

std::string HeContext::KeySaver::getClassName() const { return SECRET_KEY_CLASS_NAME; }

bool HeContext::KeySaver::allowsStorage() const { return false; }

// ---- Saving a context ----

int64_t HeContext::save(std::ostream& out) const { return save(out, getPublicFunctions()); }

int64_t HeContext::save(std::ostream& out, const PublicFunctions& publicFunctions) const
{
  if (!initialized) {
    // The backend's saveImpl gives the refusal; it runs on a scratch stream so
    // that nothing reaches out.
    std::ostringstream scratch;
    SaveableHeader(CONTEXT_CLASS_NAME, contextId).save(scratch);
    saveImpl(scratch, publicFunctions);
    std::streampos before = out.tellp();
    out << scratch.str();
    return streamDistance(before, out.tellp());
  }
  // Refused before the first byte is written.
  checkPublicFunctionsForSave(publicFunctions);
  std::streampos before = out.tellp();
  SaveableHeader(CONTEXT_CLASS_NAME, contextId).save(out);
  saveImpl(out, publicFunctions);
  return streamDistance(before, out.tellp());
}

int64_t HeContext::saveToFile(const std::string& path) const
{
  return saveToFile(path, getPublicFunctions());
}

int64_t HeContext::saveToFile(const std::string& path,
                              const PublicFunctions& publicFunctions) const
{
  FileUtils::PendingFile out(path);
  int64_t count = out.writeWith([&] { return save(out, publicFunctions); });
  out.commit();
  return count;
}

void HeContext::saveImpl(std::ostream& out, const PublicFunctions& publicFunctions) const
{
  assertInitialized();
  checkPublicFunctionsForSave(publicFunctions);
  BinIoUtils::writeString(out, getRegistryKey());
  BinIoUtils::writeDouble(out, defaultScale);
  BinIoUtils::writeInt32(out, defaultDevice);
  HeConfigRequirement saved = requirement;
  saved.publicFunctions = publicFunctions;
  saved.save(out);
}

void HeContext::checkPublicFunctionsForSave(const PublicFunctions& publicFunctions) const
{
  if (!publicFunctionsSupported(publicFunctions))
    throw std::invalid_argument(
        "the given PublicFunctions object is not supported by this HeContext");
  if (!publicFunctions.isSubsetOf(getPublicFunctions()))
    throw std::invalid_argument("The PublicFunctions to be saved must be a subset of the "
                                "PublicFunctions used to initialized this HeContext");
}

// ---- Loading a context ----

int64_t HeContext::load(std::istream& in)
{
  std::streampos before = in.tellg();
  SaveableHeader header(in);
  if (header.className != CONTEXT_CLASS_NAME)
    header.reportClassNameMismatch(CONTEXT_CLASS_NAME);

  // The backend's loadImpl refuses an initialised context before it reads or
  // changes anything; the saved id is adopted only once the whole load
  // succeeded, and a failed load puts every base field back.
  runOrRestore([&] {
    loadImpl(in);
    contextId = header.contextId;
  });
  return streamDistance(before, in.tellg());
}

int64_t HeContext::loadFromFile(const std::string& path)
{
  std::ifstream in = Saveable::openBinaryFileForRead(path);
  int64_t count = load(in);
  in.close();
  return count;
}

void HeContext::loadImpl(std::istream& in)
{
  assertNotInitialized();
  std::string key =
      BinIoUtils::readRecordString(in, CONTEXT_CLASS_NAME, "the registry key", MAX_KEY_LENGTH);
  if (key != getRegistryKey())
    throw std::runtime_error("Context for " + getRegistryKey() +
                             " trying to read a context for " + key);
  double loadedScale = BinIoUtils::readDouble(in);
  int32_t loadedDevice = BinIoUtils::readInt32(in);
  if (loadedDevice != DEVICE_CPU && loadedDevice != DEVICE_GPU)
    throw std::runtime_error("Saved context holds an invalid device type " +
                             std::to_string(loadedDevice));
  HeConfigRequirement loadedRequirement;
  loadedRequirement.load(in);
  // A requirement may leave its slot count unset; a context's holds it.
  if (loadedRequirement.numSlots == -1)
    throw std::runtime_error("Invalid saved " + std::string(CONTEXT_CLASS_NAME) +
                             ": numSlots is -1 (not set), expected the context's slot count");
  loadedRequirement.publicFunctions.validate();
  if (loadedRequirement.automaticBootstrapping && !loadedRequirement.bootstrappable)
    throw std::runtime_error(
        "Saved context asks for automatic bootstrapping but is not bootstrappable");
  // The condition restoreBootstrapEvaluator asserts, checked before anything is adopted.
  if (loadedRequirement.bootstrappable && !loadedRequirement.bootstrapConfig.has_value())
    throwAssertError("getHeConfigRequirement().bootstrapConfig.has_value()", __FILE__, __LINE__,
                     __func__);
  checkLoadedRequirement(loadedRequirement);

  defaultScale = loadedScale;
  defaultDevice = loadedDevice;
  requirement = std::move(loadedRequirement);
  initRotationMap();
  initialized = true;
}


void HeContext::checkLoadedRequirement(const HeConfigRequirement&) const {}

// ---- Secret keys ----

int64_t HeContext::saveSecretKey(std::ostream& out, bool seedOnly) const
{
  if (seedOnly && !traits.getSupportsSecKeySeed())
    throw std::runtime_error("this HeContext does not support secret key I/O using seeds");
  int64_t count = KeySaver(*this).save(out);
  BinIoUtils::writeBool(out, seedOnly);
  return count + 1;
}

int64_t HeContext::loadSecretKey(std::istream& in, bool seedOnly)
{
  KeySaver keySaver(*this);
  int64_t count = keySaver.load(in);
  bool storedSeedOnly = BinIoUtils::readBool(in);
  if (storedSeedOnly != seedOnly)
    throw std::runtime_error(std::string("expecting seedOnly=") + (seedOnly ? "true" : "false") +
                             ", but the given stream has seedOnly=" +
                             (storedSeedOnly ? "true" : "false"));
  return count + 1;
}

int64_t HeContext::saveSecretKeyToFile(const std::string& path, bool seedOnly) const
{
  // Readable by the owner only, also when it replaces a file.
  FileUtils::PendingFile out(path, FileUtils::FileAccess::OWNER_ONLY);
  int64_t count = out.writeWith([&] { return saveSecretKey(out, seedOnly); });
  out.commit();
  return count;
}

int64_t HeContext::loadSecretKeyFromFile(const std::string& path, bool seedOnly)
{
  std::ifstream in = Saveable::openBinaryFileForRead(path);
  int64_t count = loadSecretKey(in, seedOnly);
  in.close();
  return count;
}

// ---- Loading a context of unknown backend ----

std::shared_ptr<HeContext> loadHeContext(std::istream& in)
{
  // Rewind to where this saved context begins, so that contexts saved back
  // to back in one stream load one after the other.
  std::streampos start = in.tellg();
  if (start == std::streampos(-1))
    throw std::runtime_error("Cannot determine the stream position");
  SaveableHeader header(in);
  if (header.className != CONTEXT_CLASS_NAME)
    header.reportClassNameMismatch(CONTEXT_CLASS_NAME);
  std::string key =
      BinIoUtils::readRecordString(in, CONTEXT_CLASS_NAME, "the registry key", MAX_KEY_LENGTH);
  std::shared_ptr<HeContext> he = HeContext::createFromRegistry(key);
  in.seekg(start);
  he->load(in);
  return he;
}

std::shared_ptr<HeContext> loadHeContextFromFile(const std::string& path)
{
  std::ifstream in = Saveable::openBinaryFileForRead(path);
  std::shared_ptr<HeContext> he = loadHeContext(in);
  in.close();
  return he;
}

} // namespace quorvane
