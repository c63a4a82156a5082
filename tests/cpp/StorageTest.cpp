#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <fstream>
#include <map>
#include <sstream>

#include <unistd.h>

#include <boost/filesystem.hpp>

#include "MemoryStorage.h"
#include "TestUtils.h"
#include "hebase/Buffer.h"
#include "hebase/FileStorage.h"
#include "hebase/Storage.h"
#include "hebase/utils/Assert.h"
#include "hebase/utils/BinIoUtils.h"
#include "hebase/utils/FileUtils.h"
#include "hebase/utils/Saveable.h"
#include "hebase/utils/SaveableHeader.h"

using namespace quorvane;
using namespace qvtest;
namespace fs = boost::filesystem;

namespace {

// A storage-capable object: metadata is its part count, and each part lives in
// a buffer "part-" followed by its index while attached.
class Parts : public Saveable
{
public:
  explicit Parts(int32_t contextId = 5) : contextId(contextId) {}

  int32_t contextId;
  std::vector<int32_t> parts;  // content when not attached
  int32_t count = 0;           // part count (metadata)
  std::string headerLoadedFrom;

  int32_t getContextId() const override { return contextId; }
  std::string getClassName() const override { return "QvTestParts"; }
  bool allowsStorage() const override { return true; }

  bool failMetadata = false;

  void saveMetadata(std::ostream& out) const override
  {
    BinIoUtils::writeInt32(out, count);
    if (failMetadata)
      throw std::runtime_error("metadata save failed");
  }
  void loadMetadata(std::istream& in) override
  {
    count = BinIoUtils::readInt32Checked(in, 0, BinIoUtils::MAX_ELEMENT_COUNT);
  }
  void saveImpl(std::ostream& out) const override
  {
    for (int32_t p : parts)
      BinIoUtils::writeInt32(out, p);
  }
  void loadImpl(std::istream& in) override
  {
    parts.clear();
    for (int32_t i = 0; i < count; ++i)
      parts.push_back(BinIoUtils::readInt32(in));
  }

  void add(int32_t value)
  {
    markPopulated();
    if (isOutputStorageAttached()) {
      Buffer b = getOutputStorage().openBufferForWrite("part-" + std::to_string(count));
      BinIoUtils::writeInt32(b.out(), value);
      b.close();
    } else {
      parts.push_back(value);
    }
    ++count;
  }

  int32_t get(int32_t i)
  {
    if (!isInputStorageAttached())
      return parts.at(i);
    Buffer b = getInputStorage().openBufferForRead("part-" + std::to_string(i));
    int32_t v = BinIoUtils::readInt32(b.in());
    b.close();
    return v;
  }

  static std::shared_ptr<Saveable> createAndLoad(const HeContext&, const SaveableHeader& header,
                                                 std::istream& in)
  {
    auto p = std::make_shared<Parts>(header.contextId);
    p->load(in, header);
    return p;
  }
};

// A plain saveable without storage.
class Note : public Saveable
{
public:
  std::string text;
  bool fail = false;
  int32_t getContextId() const override { return 5; }
  std::string getClassName() const override { return "QvTestNote"; }
  void saveImpl(std::ostream& out) const override
  {
    BinIoUtils::writeString(out, text);
    if (fail)
      throw std::runtime_error("note save failed");
  }
  void loadImpl(std::istream& in) override { text = BinIoUtils::readString(in, 1000); }
  static std::shared_ptr<Saveable> createAndLoad(const HeContext&, const SaveableHeader& header,
                                                 std::istream& in)
  {
    auto n = std::make_shared<Note>();
    n->load(in, header);
    return n;
  }
};

const bool partsRegistered = Saveable::registerLoadFunction("QvTestParts", &Parts::createAndLoad);
const bool noteRegistered = Saveable::registerLoadFunction("QvTestNote", &Note::createAndLoad);

// A storage that keeps the default discard (closing the buffer).
class ClosingStorage : public MemoryStorage
{
public:
  void discardBuffer(Buffer& buffer) override { Storage::discardBuffer(buffer); }
};

void writeFile(const fs::path& path, const std::string& content)
{
  std::ofstream(path.string(), std::ios::binary) << content;
}

class StorageFiles : public testing::Test
{
protected:
  void SetUp() override
  {
    root = fs::temp_directory_path() / fs::unique_path("qv-storage-%%%%-%%%%");
    fs::create_directories(root);
    dir = (root / "store").string();
  }
  void TearDown() override
  {
    boost::system::error_code ec;
    fs::remove_all(root, ec);
  }
  static std::vector<std::string> withoutMarker(std::vector<std::string> names)
  {
    names.erase(std::remove(names.begin(), names.end(), FileStorage::MARKER_FILE_NAME),
                names.end());
    return names;
  }
  std::vector<std::string> bufferFiles() const { return withoutMarker(entries(dir)); }
  fs::path root;
  std::string dir;
};

} // namespace

// ---- Buffer ----

TEST(Buffer, CloseReachesTheStorageOnce)
{
  MemoryStorage storage;
  {
    Buffer b = storage.openBufferForWrite("x");
    EXPECT_EQ(b.getMode(), Buffer::OPEN_OUT);
    b.out() << "abc";
    b.close();
    EXPECT_EQ(b.getMode(), Buffer::CLOSED);
    b.close();
  }
  EXPECT_EQ(storage.log, (std::vector<std::string>{"write x", "close x"}));
  EXPECT_EQ(storage.buffers["x"], "abc");
}

TEST(Buffer, UnclosedBufferIsDiscardedOnceOnDestruction)
{
  MemoryStorage storage;
  {
    Buffer b = storage.openBufferForWrite("x");
    Buffer moved(std::move(b));
    EXPECT_EQ(b.getMode(), Buffer::CLOSED);
    EXPECT_EQ(moved.getMode(), Buffer::OPEN_OUT);
    moved.out() << "abc";
  }
  EXPECT_EQ(storage.log, (std::vector<std::string>{"write x", "discard x"}));
  EXPECT_EQ(storage.buffers.count("x"), 0u);
}

TEST(Buffer, FailedCloseIsReportedAndTheBufferEndsClosed)
{
  MemoryStorage storage;
  storage.failCloseOf = "x";
  {
    Buffer b = storage.openBufferForWrite("x");
    EXPECT_EQ(quietMessageOf<std::exception>([&] { b.close(); }), "close of x failed");
    EXPECT_EQ(b.getMode(), Buffer::CLOSED);
    b.close();
  }
  EXPECT_EQ(storage.log, (std::vector<std::string>{"write x", "close x"}));
}

TEST(Buffer, DestructorNeverThrows)
{
  ClosingStorage storage;
  storage.failCloseOf = "x";
  testing::internal::CaptureStderr();
  EXPECT_NO_THROW({ Buffer b = storage.openBufferForWrite("x"); });
  std::string printed = testing::internal::GetCapturedStderr();
  EXPECT_EQ(printed, "Warning: failed to release buffer x: close of x failed\n");
  EXPECT_EQ(storage.log, (std::vector<std::string>{"write x", "close x"}));
}

TEST(Buffer, StreamsOnlyInTheirMode)
{
  MemoryStorage storage;
  storage.buffers["r"] = "data";
  Buffer r = storage.openBufferForRead("r");
  Buffer w = storage.openBufferForWrite("w");
  std::string outMessage = quietMessageOf<std::exception>([&] { r.out(); });
  std::string inMessage = quietMessageOf<std::exception>([&] { w.in(); });
  EXPECT_NE(outMessage.find(": Assertion failed: mode == OPEN_OUT"), std::string::npos)
      << outMessage;
  EXPECT_NE(inMessage.find(": Assertion failed: mode == OPEN_IN"), std::string::npos) << inMessage;
  EXPECT_THROW(r.out(), assert_error);
  std::string word;
  r.in() >> word;
  EXPECT_EQ(word, "data");
  r.close();
  EXPECT_THROW(r.in(), assert_error);
  w.close();
}

// ---- Storage::save / load ----

TEST(Storage, SaveAndLoadThroughTheRegistry)
{
  MemoryStorage storage;
  Note note;
  note.text = "hello";
  storage.save(note, "n");
  EXPECT_EQ(storage.log, (std::vector<std::string>{"write n", "close n"}));
  EXPECT_EQ(storage.buffers["n"], saved(note));

  std::shared_ptr<Saveable> loaded = storage.load(someContext(), "n");
  auto asNote = std::dynamic_pointer_cast<Note>(loaded);
  ASSERT_NE(asNote, nullptr);
  EXPECT_EQ(asNote->text, "hello");
  EXPECT_EQ(storage.log.back(), "close n");
}

TEST(Storage, FailedSaveIsDiscardedAndReported)
{
  MemoryStorage storage;
  Note note;
  note.fail = true;
  EXPECT_EQ(quietMessageOf<std::exception>([&] { storage.save(note, "n"); }), "note save failed");
  EXPECT_EQ(storage.log, (std::vector<std::string>{"write n", "discard n"}));
  EXPECT_EQ(storage.buffers.count("n"), 0u);

  note.fail = false;
  storage.failCloseOf = "n";
  EXPECT_EQ(quietMessageOf<std::exception>([&] { storage.save(note, "n"); }), "close of n failed");
}

TEST(Storage, LoadOfUnknownClass)
{
  MemoryStorage storage;
  storage.buffers["h"] = headerBytes("HeContext", 1) + "rest";
  EXPECT_EQ(quietMessageOf<std::exception>([&] { storage.load(someContext(), "h"); }),
            "File contains unrecognized Saveable object HeContext");
  EXPECT_EQ(storage.log, (std::vector<std::string>{"read h", "discard h"}));
}

// ---- attaching ----

TEST(Attach, RefusalsLeaveTheObjectUnchanged)
{
  auto storage = std::make_shared<MemoryStorage>();
  struct Case
  {
    std::string name;
    std::function<void()> call;
    std::string message;
  };
  Note note;
  Parts populated;
  populated.add(1);
  Parts attached;
  attached.attachOutputStorage(storage);
  Parts fresh;
  std::vector<Case> cases = {
      {"input, no storage support", [&] { note.attachInputStorage(storage); },
       "This object type doesn't support Storage"},
      {"output, no storage support", [&] { note.attachOutputStorage(storage); },
       "This object type doesn't support Storage"},
      {"input, populated", [&] { populated.attachInputStorage(storage); },
       "This object is already fully or partially populated, can only attach a storage to a "
       "completely empty object"},
      {"output, populated", [&] { populated.attachOutputStorage(storage); },
       "This object is already fully or partially populated, can only attach a storage to a "
       "completely empty object"},
      {"input, attached", [&] { attached.attachInputStorage(storage); },
       "This object is already attached to a storage"},
      {"output, attached", [&] { attached.attachOutputStorage(storage); },
       "This object is already attached to a Storage object"},
      {"input, null", [&] { fresh.attachInputStorage(nullptr); }, "Cannot attach a null storage"},
      {"output, null", [&] { fresh.attachOutputStorage(nullptr); },
       "Cannot attach a null storage"},
      {"flush, unattached", [&] { fresh.flushToStorage(); },
       "This object is not attached to a Storage object, cannot flush. Save the object instead."},
      {"flush, no storage support", [&] { note.flushToStorage(); },
       "This object is not attached to a Storage object, cannot flush. Save the object instead."},
  };
  storage->log.clear();
  for (const Case& c : cases)
    EXPECT_EQ(quietMessageOf<std::exception>(c.call), c.message) << c.name;
  EXPECT_THROW(fresh.attachInputStorage(nullptr), std::invalid_argument);
  EXPECT_TRUE(storage->log.empty());
  EXPECT_FALSE(fresh.isInputStorageAttached() || fresh.isOutputStorageAttached());
  EXPECT_FALSE(populated.isInputStorageAttached() || populated.isOutputStorageAttached());
}

TEST(Attach, OutputStorageWritesHeaderThenMetadataOnFlush)
{
  auto storage = std::make_shared<MemoryStorage>();
  Parts p(9);
  p.attachOutputStorage(storage);
  EXPECT_TRUE(p.isOutputStorageAttached());
  EXPECT_FALSE(p.isInputStorageAttached());
  EXPECT_EQ(&p.getOutputStorage(), storage.get());
  EXPECT_THROW(p.getInputStorage(), assert_error);
  EXPECT_EQ(storage->log, (std::vector<std::string>{"write header", "close header"}));
  EXPECT_EQ(storage->buffers["header"], headerBytes("QvTestParts", 9));
  EXPECT_EQ(storage->buffers.count("metadata"), 0u);

  p.add(10);
  p.add(20);
  EXPECT_TRUE(p.isPopulated());
  EXPECT_TRUE(p.isOutputStorageAttached());
  EXPECT_EQ(storage->buffers["part-1"], le32(20));

  std::ostringstream out;
  std::istringstream in;
  EXPECT_EQ(quietMessageOf<std::exception>([&] { p.save(out); }),
            "Cannot save an object that is attached to a Storage object. Flush to storage "
            "instead.");
  EXPECT_EQ(quietMessageOf<std::exception>([&] { p.load(in); }),
            "Cannot load an object that is attached to a Storage object. Loading will be done "
            "automatically.");
  EXPECT_TRUE(out.str().empty());

  p.flushToStorage();
  EXPECT_EQ(storage->buffers["metadata"], le32(2));
  EXPECT_EQ(storage->log.back(), "close metadata");

  // The storage is shared with the object.
  EXPECT_EQ(storage.use_count(), 2);
}

TEST(Attach, InputStorageReadsHeaderAndMetadataOnly)
{
  auto storage = std::make_shared<MemoryStorage>();
  storage->buffers["header"] = headerBytes("QvTestParts", 5);
  storage->buffers["metadata"] = le32(3);
  storage->buffers["part-2"] = le32(77);
  Parts p(5);
  p.attachInputStorage(storage);
  EXPECT_EQ(storage->log, (std::vector<std::string>{"read header", "close header",
                                                    "read metadata", "close metadata"}));
  EXPECT_TRUE(p.isInputStorageAttached());
  EXPECT_FALSE(p.isPopulated());
  EXPECT_EQ(p.count, 3);
  EXPECT_EQ(&p.getInputStorage(), storage.get());
  EXPECT_THROW(p.getOutputStorage(), assert_error);
  EXPECT_EQ(p.get(2), 77);
  EXPECT_EQ(quietMessageOf<std::exception>([&] { p.flushToStorage(); }),
            "This object is not attached to a Storage object, cannot flush. Save the object "
            "instead.");
}

TEST(Attach, FailedAttachLeavesTheObjectUnattached)
{
  struct Case
  {
    std::string name;
    std::map<std::string, std::string> buffers;
    std::string message;
  };
  std::vector<Case> cases = {
      {"no header", {}, "no buffer header"},
      {"wrong class", {{"header", headerBytes("QvTestNote", 5)}, {"metadata", le32(0)}},
       "loading failed due to a mismatching class name field"},
      {"wrong context", {{"header", headerBytes("QvTestParts", 6)}, {"metadata", le32(0)}},
       "loading failed due to mismatching contexts."},
      {"no metadata", {{"header", headerBytes("QvTestParts", 5)}}, "no buffer metadata"},
      {"count out of range",
       {{"header", headerBytes("QvTestParts", 5)}, {"metadata", le32(100001)}},
       "BinIoUtils::readInt32Checked() failed: The loaded value (100001) doesn't fall in the "
       "specified valid range ([0, 100000])."},
  };
  for (const Case& c : cases) {
    auto storage = std::make_shared<MemoryStorage>();
    storage->buffers = c.buffers;
    Parts p(5);
    EXPECT_EQ(quietMessageOf<std::exception>([&] { p.attachInputStorage(storage); }), c.message)
        << c.name;
    EXPECT_FALSE(p.isInputStorageAttached()) << c.name;
    EXPECT_FALSE(p.isOutputStorageAttached()) << c.name;
    EXPECT_EQ(storage.use_count(), 1) << c.name;
    // A later attach with good buffers succeeds.
    storage->buffers["header"] = headerBytes("QvTestParts", 5);
    storage->buffers["metadata"] = le32(0);
    EXPECT_NO_THROW(p.attachInputStorage(storage)) << c.name;
  }

  auto storage = std::make_shared<MemoryStorage>();
  storage->failCloseOf = "header";
  Parts p(5);
  EXPECT_EQ(quietMessageOf<std::exception>([&] { p.attachOutputStorage(storage); }),
            "close of header failed");
  EXPECT_FALSE(p.isOutputStorageAttached());
  storage->failCloseOf.clear();
  p.attachOutputStorage(storage);
  EXPECT_TRUE(p.isOutputStorageAttached());
}

TEST(Attach, CopiesShareTheAttachment)
{
  auto storage = std::make_shared<MemoryStorage>();
  Parts p(5);
  p.attachOutputStorage(storage);
  Parts copy(p);
  EXPECT_TRUE(copy.isOutputStorageAttached());
  EXPECT_EQ(&copy.getOutputStorage(), storage.get());
  EXPECT_EQ(storage.use_count(), 3);
}

TEST(Attach, PlainSaveOfStorageClassIncludesMetadata)
{
  Parts p(5);
  p.add(4);
  p.add(-1);
  std::string bytes = saved(p);
  EXPECT_EQ(bytes, headerBytes("QvTestParts", 5) + le32(2) + le32(4) + le32(-1));
  Parts loaded(5);
  std::istringstream in(bytes);
  EXPECT_EQ(loaded.load(in), static_cast<std::streamoff>(bytes.size()));
  EXPECT_EQ(loaded.parts, (std::vector<int32_t>{4, -1}));
}

// ---- FileStorage ----

TEST_F(StorageFiles, LayoutIsOneFilePerBuffer)
{
  auto storage = std::make_shared<FileStorage>(dir, true);
  EXPECT_EQ(storage->getPath(), dir);
  EXPECT_TRUE(bufferFiles().empty());
  EXPECT_TRUE(FileStorage::isFileStorageDirectory(dir));

  Note note;
  note.text = "on disk";
  storage->save(note, "obj");
  EXPECT_EQ(bufferFiles(), std::vector<std::string>{"obj"});
  EXPECT_EQ(readFile(fs::path(dir) / "obj"), saved(note));
  EXPECT_EQ(quietMessageOf<std::exception>([&] { storage->save(note, "obj"); }),
            "FileStorage at path " + dir + "/obj trying to write to file obj but file already "
            "exists.");
  EXPECT_THROW(storage->save(note, "obj"), std::invalid_argument);
  EXPECT_EQ(readFile(fs::path(dir) / "obj"), saved(note));

  auto loaded = std::dynamic_pointer_cast<Note>(storage->load(someContext(), "obj"));
  ASSERT_NE(loaded, nullptr);
  EXPECT_EQ(loaded->text, "on disk");

  // An attached object keeps header, metadata and parts in buffers of their own.
  auto attachedDir = (root / "attached").string();
  auto out = std::make_shared<FileStorage>(attachedDir, true);
  Parts p(5);
  p.attachOutputStorage(out);
  p.add(1);
  p.add(2);
  p.flushToStorage();
  EXPECT_EQ(quietMessageOf<std::exception>([&] { p.flushToStorage(); }),
            "FileStorage at path " + attachedDir + "/metadata trying to write to file metadata "
            "but file already exists.");
  EXPECT_EQ(withoutMarker(entries(attachedDir)),
            (std::vector<std::string>{"header", "metadata", "part-0", "part-1"}));
  EXPECT_EQ(readFile(fs::path(attachedDir) / "metadata"), le32(2));

  // A storage opened without create sees the files; its objects read them.
  auto in = std::make_shared<FileStorage>(attachedDir, false);
  Parts back(5);
  back.attachInputStorage(in);
  EXPECT_EQ(back.count, 2);
  EXPECT_EQ(back.get(1), 2);
}

TEST_F(StorageFiles, CreateCleansOnlyFileStorages)
{
  {
    FileStorage storage(dir, true);
    Note note;
    storage.save(note, "a");
    storage.save(note, "b");
  }
  fs::create_directory(fs::path(dir) / "sub");
  writeFile(fs::path(dir) / "sub" / "c", "x");
  FileStorage again(dir, true);
  EXPECT_TRUE(bufferFiles().empty());

  // Anything else is refused and left alone.
  std::string plainDir = (root / "plain").string();
  fs::create_directory(plainDir);
  writeFile(fs::path(plainDir) / "keep", "precious");
  EXPECT_EQ(quietMessageOf<std::exception>([&] { FileStorage s(plainDir, true); }),
            "Cannot create FileStorage at path " + plainDir +
                ": the directory is not empty and is not a FileStorage directory. Remove it or "
                "choose another path.");
  EXPECT_THROW(FileStorage(plainDir, true), std::invalid_argument);
  EXPECT_EQ(readFile(fs::path(plainDir) / "keep"), "precious");

  std::string file = (root / "file").string();
  writeFile(file, "precious");
  EXPECT_EQ(quietMessageOf<std::exception>([&] { FileStorage s(file, true); }),
            "Cannot create FileStorage at path " + file +
                ": the path exists and is not a directory. Remove it or choose another path.");
  EXPECT_EQ(readFile(file), "precious");

  // A symbolic link to a file storage is not one itself.
  std::string link = (root / "link").string();
  fs::create_directory_symlink(dir, link);
  EXPECT_THROW(FileStorage(link, true), std::invalid_argument);
  EXPECT_TRUE(FileStorage::isFileStorageDirectory(dir));
  EXPECT_FALSE(FileStorage::isFileStorageDirectory(link));

  // An empty directory becomes a storage.
  std::string emptyDir = (root / "empty").string();
  fs::create_directory(emptyDir);
  FileStorage fromEmpty(emptyDir, true);
  EXPECT_TRUE(FileStorage::isFileStorageDirectory(emptyDir));
  EXPECT_TRUE(withoutMarker(entries(emptyDir)).empty());
  EXPECT_FALSE(FileStorage::isFileStorageDirectory(plainDir));
  EXPECT_FALSE(FileStorage::isFileStorageDirectory(file));
}

TEST_F(StorageFiles, OpenWithoutCreate)
{
  EXPECT_EQ(quietMessageOf<std::exception>([&] { FileStorage s(dir, false); }),
            "Cannot open FileStorage with path " + dir +
                ": path doesn't exist. Create it or turn on the 'create' flag.");
  EXPECT_THROW(FileStorage(dir, false), std::invalid_argument);
  EXPECT_FALSE(fs::exists(dir));

  std::string file = (root / "file").string();
  writeFile(file, "x");
  EXPECT_EQ(quietMessageOf<std::exception>([&] { FileStorage s(file, false); }),
            "Cannot open FileStorage with path " + file + ": path is not a directory.");

  // A directory made by hand works, and its files are buffers.
  fs::create_directory(dir);
  Note note;
  note.text = "hand made";
  writeFile(fs::path(dir) / "n", saved(note));
  FileStorage storage(dir, false);
  auto loaded = std::dynamic_pointer_cast<Note>(storage.load(someContext(), "n"));
  ASSERT_NE(loaded, nullptr);
  EXPECT_EQ(loaded->text, "hand made");
  EXPECT_EQ(entries(dir), std::vector<std::string>{"n"});
}

TEST_F(StorageFiles, BufferNames)
{
  FileStorage storage(dir, true);
  for (std::string name : {"a/b", "a\\b", "/", "\\x"}) {
    std::string message = "Illegal buffer name: " + name +
                          ": FileStorage currently doesn't support buffer names with path "
                          "seperators, slashes or backslashes.";
    EXPECT_EQ(quietMessageOf<std::exception>([&] { storage.openBufferForWrite(name); }), message);
    EXPECT_EQ(quietMessageOf<std::exception>([&] { storage.openBufferForRead(name); }), message);
    EXPECT_THROW(storage.openBufferForRead(name), std::invalid_argument);
  }
  std::string reserved = std::string(FileStorage::MARKER_FILE_NAME) + ".x";
  EXPECT_EQ(quietMessageOf<std::exception>([&] { storage.openBufferForWrite(reserved); }),
            "Illegal buffer name: " + reserved + ": names beginning with " +
                FileStorage::MARKER_FILE_NAME + " are reserved by FileStorage.");
  EXPECT_TRUE(bufferFiles().empty());
  EXPECT_EQ(entries(root), std::vector<std::string>{"store"});

  EXPECT_EQ(quietMessageOf<std::exception>([&] { storage.openBufferForRead("nope"); }),
            "FileStorage at path " + dir + "/nope failed to open file nope for reading.");
  EXPECT_THROW(storage.openBufferForRead("nope"), std::runtime_error);
  fs::create_directory(fs::path(dir) / "sub");
  EXPECT_EQ(quietMessageOf<std::exception>([&] { storage.openBufferForRead("sub"); }),
            "FileStorage at path " + dir + "/sub failed to open file sub for reading.");
}

TEST_F(StorageFiles, FailedWritesLeaveNoFileAndTheNameFree)
{
  auto storage = std::make_shared<FileStorage>(dir, true);
  Note note;
  note.text = "partial";
  note.fail = true;
  EXPECT_EQ(quietMessageOf<std::exception>([&] { storage->save(note, "n"); }), "note save failed");
  EXPECT_TRUE(bufferFiles().empty());

  {
    Buffer abandoned = storage->openBufferForWrite("n");
    abandoned.out() << "never closed";
  }
  EXPECT_TRUE(bufferFiles().empty());

  note.fail = false;
  storage->save(note, "n");
  EXPECT_EQ(readFile(fs::path(dir) / "n"), saved(note));

  // Two writers of one name: the first to close wins, the second is refused.
  Buffer first = storage->openBufferForWrite("m");
  Buffer second = storage->openBufferForWrite("m");
  first.out() << "first";
  second.out() << "second";
  first.close();
  EXPECT_EQ(quietMessageOf<std::exception>([&] { second.close(); }),
            "FileStorage at path " + dir + "/m trying to write to file m but file already "
            "exists.");
  EXPECT_EQ(readFile(fs::path(dir) / "m"), "first");
  EXPECT_EQ(bufferFiles(), (std::vector<std::string>{"m", "n"}));
}

TEST_F(StorageFiles, FailedFlushCanBeRetried)
{
  auto storage = std::make_shared<FileStorage>(dir, true);
  Parts p(5);
  p.attachOutputStorage(storage);
  p.failMetadata = true;
  EXPECT_EQ(quietMessageOf<std::exception>([&] { p.flushToStorage(); }), "metadata save failed");
  EXPECT_EQ(bufferFiles(), std::vector<std::string>{"header"});
  p.failMetadata = false;
  p.flushToStorage();
  EXPECT_EQ(readFile(fs::path(dir) / "metadata"), le32(0));
  EXPECT_EQ(bufferFiles(), (std::vector<std::string>{"header", "metadata"}));
}

TEST_F(StorageFiles, ReadingPastTheEndFailsThroughTheStream)
{
  FileStorage storage(dir, true);
  {
    Buffer b = storage.openBufferForWrite("short");
    b.out() << "ab";
    b.close();
  }
  Buffer b = storage.openBufferForRead("short");
  EXPECT_EQ(b.in().exceptions(), std::ios::failbit | std::ios::badbit);
  char data[4];
  EXPECT_THROW(b.in().read(data, 4), std::ios_base::failure);
  b.close();
}

TEST_F(StorageFiles, FullDiskIsReportedOnClose)
{
  if (!fs::exists("/dev/full"))
    GTEST_SKIP() << "no /dev/full";
  // A buffer whose data cannot be written: its close reports the failure.
  fs::create_directory(dir);
  FileStorage storage(dir, false);
  Buffer b = storage.openBufferForWrite("x");
  auto& file = dynamic_cast<std::ofstream&>(b.out());
  file.close();
  file.open("/dev/full", std::ios::out | std::ios::binary);
  file << "data that does not fit";
  EXPECT_THROW(b.close(), std::ios_base::failure);
  EXPECT_TRUE(bufferFiles().empty());
}

// ---- FileUtils ----

TEST_F(StorageFiles, CreateCleanDirNameRule)
{
  struct Case
  {
    std::string name;
    int n;
  };
  for (const Case& c : std::vector<Case>{{"ab", 2}, {"x/ab", 2}, {"./a", 1}, {"", 0}, {"/", 0}}) {
    EXPECT_EQ(quietMessageOf<std::exception>([&] { FileUtils::createCleanDir(c.name); }),
              "Cannot create a clean directory " + c.name + " with " + std::to_string(c.n) +
                  " characters, name must contain at least 3 characters");
  }

  // Relative names count all their characters.
  char cwd[4096];
  ASSERT_NE(getcwd(cwd, sizeof(cwd)), nullptr);
  ASSERT_EQ(chdir(root.c_str()), 0);
  EXPECT_NO_THROW(FileUtils::createCleanDir("abc"));
  bool made = fs::is_directory(root / "abc");
  ASSERT_EQ(chdir(cwd), 0);
  EXPECT_TRUE(made);

  // Whatever is there is removed.
  std::string target = (root / "clean").string();
  fs::create_directories(fs::path(target) / "deep" / "er");
  writeFile(fs::path(target) / "f", "x");
  FileUtils::createCleanDir(target);
  EXPECT_TRUE(entries(target).empty());
  writeFile(root / "plainfile", "x");
  FileUtils::createCleanDir((root / "plainfile").string());
  EXPECT_TRUE(fs::is_directory(root / "plainfile"));
}

TEST_F(StorageFiles, DirectoryAndPathHelpers)
{
  std::string d = (root / "one").string();
  EXPECT_FALSE(FileUtils::pathExists(d));
  FileUtils::createDir(d);
  EXPECT_TRUE(fs::is_directory(d));
  EXPECT_NO_THROW(FileUtils::createDir(d));
  EXPECT_THROW(FileUtils::createDir((root / "missing" / "two").string()), std::runtime_error);

  writeFile(root / "f", "x");
  fs::create_symlink(root / "nowhere", root / "dangling");
  EXPECT_TRUE(FileUtils::pathExists(d));
  EXPECT_TRUE(FileUtils::pathExists((root / "f").string()));
  EXPECT_TRUE(FileUtils::pathExists((root / "dangling").string()));
  EXPECT_FALSE(FileUtils::pathExists((root / "nowhere").string()));
}

TEST_F(StorageFiles, OpenFileHelpers)
{
  std::string path = (root / "f.bin").string();
  EXPECT_EQ(quietMessageOf<std::exception>(
                [&] { FileUtils::openFileForRead(path, std::ios::binary, std::ios::badbit); }),
            "Failed to open file " + path);
  std::string bad = (root / "missing" / "f").string();
  EXPECT_EQ(quietMessageOf<std::exception>(
                [&] { FileUtils::openFileForWrite(bad, std::ios::binary, std::ios::badbit); }),
            "Failed to open file " + bad);
  {
    std::ofstream out = FileUtils::openFileForWrite(path, std::ios::binary, std::ios::badbit);
    EXPECT_EQ(out.exceptions(), std::ios::badbit);
    out << "hello world";
  }
  {
    std::ofstream out = FileUtils::openFileForWrite(path, std::ios::binary, std::ios::goodbit);
    out << "hi";
  }
  std::ifstream in = FileUtils::openFileForRead(path, std::ios::binary, std::ios::failbit);
  EXPECT_EQ(in.exceptions(), std::ios::failbit);
  std::string word;
  in >> word;
  EXPECT_EQ(word, "hi");
}

TEST_F(StorageFiles, PendingFileReplacesTheTargetOnlyOnCommit)
{
  fs::path target = root / "target.bin";
  writeFile(target, "old");
  {
    FileUtils::PendingFile file(target.string());
    EXPECT_EQ(file.exceptions(), std::ios::failbit | std::ios::badbit);
    EXPECT_EQ(file.getFinalPath(), target.string());
    file << "new content";
    file.flush();
    // Until the commit the data sits beside the target, which keeps its content.
    EXPECT_EQ(readFile(target), "old");
    std::vector<std::string> names = entries(root);
    ASSERT_EQ(names.size(), 2u);
    EXPECT_EQ(names[1].rfind("target.bin.tmp-", 0), 0u) << names[1];
    file.commit();
  }
  EXPECT_EQ(readFile(target), "new content");
  EXPECT_EQ(entries(root), std::vector<std::string>{"target.bin"});

  // Without a commit the temporary file goes and the target stays.
  {
    FileUtils::PendingFile abandoned(target.string());
    abandoned << "abandoned";
  }
  {
    FileUtils::PendingFile discarded(target.string());
    discarded << "discarded";
    discarded.discard();
    EXPECT_EQ(entries(root), std::vector<std::string>{"target.bin"});
    discarded.discard();
  }
  EXPECT_EQ(readFile(target), "new content");
  EXPECT_EQ(entries(root), std::vector<std::string>{"target.bin"});
}

TEST_F(StorageFiles, PendingFileCommitIfAbsentKeepsAnExistingFile)
{
  fs::path target = root / "once";
  FileUtils::PendingFile first(target.string());
  FileUtils::PendingFile second(target.string());
  first << "first";
  second << "second";
  EXPECT_TRUE(first.commitIfAbsent());
  EXPECT_FALSE(second.commitIfAbsent());
  EXPECT_EQ(readFile(target), "first");
  EXPECT_EQ(entries(root), std::vector<std::string>{"once"});
  std::string again = quietMessageOf<std::exception>([&] { first.commit(); });
  EXPECT_NE(again.find(": Assertion failed: !finished the file was committed or discarded already"),
            std::string::npos)
      << again;
  EXPECT_EQ(readFile(target), "first");
}

TEST_F(StorageFiles, PendingFileOpenFailures)
{
  std::string inMissingDir = (root / "missing" / "f").string();
  EXPECT_EQ(quietMessageOf<std::exception>([&] { FileUtils::PendingFile f(inMissingDir); }),
            "Failed to open file " + inMissingDir);
  EXPECT_EQ(quietMessageOf<std::exception>([&] { FileUtils::PendingFile f(root.string()); }),
            "Failed to open file " + root.string());
  EXPECT_EQ(quietMessageOf<std::exception>([&] {
              FileUtils::PendingFile f((root / "x").string(), inMissingDir, "cannot write x");
            }),
            "cannot write x");
  EXPECT_THROW(FileUtils::PendingFile f(inMissingDir), std::runtime_error);
  EXPECT_TRUE(entries(root).empty());
}

TEST_F(StorageFiles, PendingFileFailedFlushKeepsTheTarget)
{
  if (!fs::exists("/dev/full"))
    GTEST_SKIP() << "no /dev/full";
  fs::path target = root / "target.bin";
  writeFile(target, "old");
  FileUtils::PendingFile file(target.string());
  // Route the data to a device that refuses it; the commit's flush then fails.
  file.close();
  file.open("/dev/full", std::ios::out | std::ios::binary);
  file << "data that does not fit";
  EXPECT_THROW(file.commit(), std::ios_base::failure);
  EXPECT_EQ(readFile(target), "old");
  EXPECT_EQ(entries(root), std::vector<std::string>{"target.bin"});
}

TEST(ResourcesDir, EnvironmentOrDefault)
{
  const char* old = std::getenv("QUORVANE_RESOURCES_DIR");
  std::string saved = old ? old : "";
  unsetenv("QUORVANE_RESOURCES_DIR");
  EXPECT_EQ(getResourcesDir(), "../resources");
  setenv("QUORVANE_RESOURCES_DIR", "", 1);
  EXPECT_EQ(getResourcesDir(), "");
  setenv("QUORVANE_RESOURCES_DIR", "/opt/res", 1);
  EXPECT_EQ(getResourcesDir(), "/opt/res");
  if (old)
    setenv("QUORVANE_RESOURCES_DIR", saved.c_str(), 1);
  else
    unsetenv("QUORVANE_RESOURCES_DIR");
}
