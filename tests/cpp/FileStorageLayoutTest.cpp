#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include <boost/filesystem.hpp>

#include "TestUtils.h"
#include "hebase/Buffer.h"
#include "hebase/FileStorage.h"
#include "hebase/utils/BinIoUtils.h"
#include "hebase/utils/FileUtils.h"
#include "hebase/utils/Saveable.h"

using namespace quorvane;
using namespace qvtest;
namespace fs = boost::filesystem;

namespace {

// Keeps its batches in buffers "batch-<i>" while attached; metadata is the batch count.
class Batches : public Saveable
{
public:
  int32_t count = 0;

  int32_t getContextId() const override { return 3; }
  std::string getClassName() const override { return "QvLayoutBatches"; }
  bool allowsStorage() const override { return true; }
  void saveMetadata(std::ostream& out) const override { BinIoUtils::writeInt32(out, count); }
  void loadMetadata(std::istream& in) override
  {
    count = BinIoUtils::readInt32Checked(in, 0, BinIoUtils::MAX_ELEMENT_COUNT);
  }
  void saveImpl(std::ostream&) const override {}
  void loadImpl(std::istream&) override {}

  void addBatch(const std::string& content)
  {
    markPopulated();
    Buffer b = getOutputStorage().openBufferForWrite("batch-" + std::to_string(count));
    b.out() << content;
    b.close();
    ++count;
  }
};

class Text : public Saveable
{
public:
  std::string text = "text";
  int32_t getContextId() const override { return 3; }
  std::string getClassName() const override { return "QvLayoutText"; }
  void saveImpl(std::ostream& out) const override { BinIoUtils::writeString(out, text); }
  void loadImpl(std::istream& in) override { text = BinIoUtils::readString(in, 100); }
};

class FileStorageLayout : public testing::Test
{
protected:
  void SetUp() override
  {
    root = fs::temp_directory_path() / fs::unique_path("qv-storage-layout-%%%%-%%%%");
    fs::create_directories(root);
  }
  void TearDown() override
  {
    boost::system::error_code ec;
    fs::remove_all(root, ec);
  }
  // Where the file system keeps no extended attributes, a storage directory
  // holds a marker file besides its buffers.
  bool markedByAttribute(const fs::path& dir) const
  {
    return FileStorage::isFileStorageDirectory(dir.string()) &&
           !fs::exists(dir / FileStorage::MARKER_FILE_NAME);
  }
  fs::path root;
};

} // namespace

TEST_F(FileStorageLayout, StorageDirectoryHoldsExactlyItsBufferFiles)
{
  fs::path dir = root / "store";
  FileStorage storage(dir.string(), true);
  if (!markedByAttribute(dir))
    GTEST_SKIP() << "the file system keeps no extended attributes";
  EXPECT_TRUE(entries(dir).empty());

  Text t;
  storage.save(t, "obj");
  EXPECT_EQ(entries(dir), std::vector<std::string>{"obj"});
  std::ostringstream expected;
  t.save(expected);
  EXPECT_EQ(readFile(dir / "obj"), expected.str());

  // Created again with the flag: every file is gone.
  FileStorage again(dir.string(), true);
  EXPECT_TRUE(entries(dir).empty());
  EXPECT_TRUE(FileStorage::isFileStorageDirectory(dir.string()));
}

TEST_F(FileStorageLayout, AttachedObjectLayout)
{
  fs::path dir = root / "attached";
  auto storage = std::make_shared<FileStorage>(dir.string(), true);
  if (!markedByAttribute(dir))
    GTEST_SKIP() << "the file system keeps no extended attributes";
  Batches b;
  b.attachOutputStorage(storage);
  EXPECT_EQ(entries(dir), std::vector<std::string>{"header"});
  b.addBatch("first");
  b.addBatch("second");
  b.flushToStorage();
  EXPECT_EQ(entries(dir),
            (std::vector<std::string>{"batch-0", "batch-1", "header", "metadata"}));
  EXPECT_EQ(readFile(dir / "batch-1"), "second");
  EXPECT_EQ(readFile(dir / "metadata"), std::string("\x02\x00\x00\x00", 4));
  // header: magic, version, class name, context id.
  EXPECT_EQ(readFile(dir / "header").size(), 17u + std::string("QvLayoutBatches").size());

  Batches in;
  in.attachInputStorage(std::make_shared<FileStorage>(dir.string(), false));
  EXPECT_EQ(in.count, 2);
  EXPECT_FALSE(in.isPopulated());
}

TEST_F(FileStorageLayout, StorageMarkedByAnEarlierMarkerFileIsStillCleaned)
{
  fs::path dir = root / "legacy";
  fs::create_directory(dir);
  std::ofstream((dir / FileStorage::MARKER_FILE_NAME).string()) << "Quorvane FileStorage\n";
  std::ofstream((dir / "old").string()) << "x";
  EXPECT_TRUE(FileStorage::isFileStorageDirectory(dir.string()));
  FileStorage storage(dir.string(), true);
  EXPECT_FALSE(fs::exists(dir / "old"));
  EXPECT_TRUE(FileStorage::isFileStorageDirectory(dir.string()));
}

TEST_F(FileStorageLayout, DirectoriesAreNoFilesToOpen)
{
  const std::string dir = root.string();
  const std::string expected = "Failed to open file " + dir;
  EXPECT_EQ(messageOf<std::exception>([&] {
              FileUtils::openFileForRead(dir, std::ios::binary,
                                         std::ios::failbit | std::ios::badbit);
            }),
            expected);
  EXPECT_EQ(messageOf<std::exception>([&] {
              FileUtils::openFileForWrite(dir, std::ios::binary,
                                          std::ios::failbit | std::ios::badbit);
            }),
            expected);
  Text t;
  EXPECT_EQ(messageOf<std::exception>([&] { t.loadFromFile(dir); }), expected);
  EXPECT_EQ(messageOf<std::exception>([&] { t.saveToFile(dir); }), expected);
  EXPECT_THROW(t.loadFromFile(dir), std::runtime_error);
  EXPECT_TRUE(fs::is_directory(root));
}
