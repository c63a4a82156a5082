#ifndef QUORVANE_HEBASE_UTILS_SAVEABLE_H
#define QUORVANE_HEBASE_UTILS_SAVEABLE_H

#include <cstdint>
#include <iosfwd>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>

#include "hebase/utils/Printable.h"

namespace quorvane {

class HeContext;
class Storage;
struct SaveableHeader;

/// Contract of plain records written as raw fields, without a header.
class SaveableBasic : public Printable
{
public:
  ~SaveableBasic() override {}

  /// Writes "Object (detailed printing not implemented yet)".
  void debugPrint(const std::string& title = "", Verbosity verbosity = VERBOSITY_REGULAR,
                  std::ostream& out = std::cout) const override;

  /// Writes the object; returns the number of bytes written.
  virtual std::streamoff save(std::ostream& out) const = 0;

  /// Reads the object; returns the number of bytes read.
  virtual std::streamoff load(std::istream& in) = 0;
};

/// Contract of self-describing objects: a saved-object header, then (for
/// classes that allow storage) metadata, then the body. Such an object can
/// instead be attached to a Storage.
class Saveable : public SaveableBasic
{
public:
  /// Builds an object of the header's class for the context and loads its
  /// body from the stream, positioned just after the header.
  using LoadFunction = std::shared_ptr<Saveable> (*)(const HeContext& he,
                                                      const SaveableHeader& header,
                                                      std::istream& in);
  using LoaderRegistry = std::map<std::string, LoadFunction>;

  ~Saveable() override;

  /// Header, metadata when storage is allowed, then body; returns bytes written.
  std::streamoff save(std::ostream& out) const override;

  /// save without checkSavable: for a part of a container whose own
  /// checkSavable covered the part.
  std::streamoff savePart(std::ostream& out) const;

  /// Refuses, before anything is written, an object whose saved form could
  /// not be loaded back; accepts everything by default.
  virtual void checkSavable() const;

  /// Reads and validates the header, then metadata and body; returns bytes read.
  std::streamoff load(std::istream& in) override;

  /// The id of the context this object belongs to, written into its header.
  virtual int32_t getContextId() const = 0;

  /// Writes the metadata; only for classes that allow storage.
  virtual void saveMetadata(std::ostream& out) const;

  /// Reads the metadata; only for classes that allow storage.
  virtual void loadMetadata(std::istream& in);

  /// Writes the body.
  virtual void saveImpl(std::ostream& out) const = 0;

  /// Reads the body.
  virtual void loadImpl(std::istream& in) = 0;

  /// The class name written into the header.
  virtual std::string getClassName() const = 0;

  /// Whether the object may be attached to a storage; false by default.
  virtual bool allowsStorage() const;

  /// Loads the body after a header the caller has already read.
  void load(std::istream& in, const SaveableHeader& header);

  /// Writes a header with this object's class name and context id.
  void saveHeader(std::ostream& out) const;

  /// Checks a read header's class name and context id against this object.
  void validateHeader(const SaveableHeader& header) const;

  /// Saves to a file (replaced only when the save succeeds); returns bytes written.
  std::streamoff saveToFile(const std::string& path) const;

  /// Loads from a file; returns bytes read.
  std::streamoff loadFromFile(const std::string& path);

  /// Opens a file for binary reading with exceptions on failbit and badbit;
  /// refuses an empty file with std::runtime_error "Failed to read file " +
  /// path + ": file is empty".
  static std::ifstream openBinaryFileForRead(const std::string& path);

  /// Opens (truncating) a file for binary writing with exceptions on failbit and badbit.
  static std::ofstream openBinaryFileForWrite(const std::string& path);

  /// Attaches a storage holding this object's header and metadata.
  void attachInputStorage(std::shared_ptr<Storage> storage);

  /// Attaches a storage to write into; writes the header at once.
  void attachOutputStorage(std::shared_ptr<Storage> storage);

  /// Writes the metadata into the output storage.
  void flushToStorage();

  bool isInputStorageAttached() const;
  bool isOutputStorageAttached() const;

  /// The attached input storage; asserts one is attached.
  Storage& getInputStorage() const;

  /// The attached output storage; asserts one is attached.
  Storage& getOutputStorage() const;

  /// Marks the object as holding content.
  void markPopulated();

  /// Whether the object was loaded or marked populated.
  bool isPopulated() const { return populated; }

  /// Class name to load function; created on first use.
  static LoaderRegistry& getLoaderRegistry();

  /// Registers a load function; refuses a name registered already. Returns true.
  static bool registerLoadFunction(const std::string& name, LoadFunction function);

  /// Reads a header and loads the object of its class through the registry.
  static std::shared_ptr<Saveable> loadSaveable(const HeContext& he, std::istream& in);

protected:
  Saveable() = default;
  Saveable(const Saveable&) = default;
  Saveable& operator=(const Saveable&) = default;

private:
  std::shared_ptr<Storage> storage;
  bool attachedForInput = false;
  bool populated = false;

  void checkAttachable(const std::shared_ptr<Storage>& newStorage,
                       const char* alreadyAttachedMessage) const;
};

/// Loads an object through the registry and checks that it is a T.
template <typename T>
std::shared_ptr<T> loadSaveableAs(const HeContext& he, std::istream& in,
                                  const std::string& typeName)
{
  std::shared_ptr<Saveable> loaded = Saveable::loadSaveable(he, in);
  std::shared_ptr<T> result = std::dynamic_pointer_cast<T>(loaded);
  if (!result)
    throw std::runtime_error("Expected input to contain an object of type " + typeName +
                             ". Instead found " + loaded->getClassName());
  return result;
}

} // namespace quorvane

#endif
