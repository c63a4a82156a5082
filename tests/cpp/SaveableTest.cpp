#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <streambuf>

#include "TestUtils.h"
#include "hebase/utils/Assert.h"
#include "hebase/utils/BinIoUtils.h"
#include "hebase/utils/Saveable.h"
#include "hebase/utils/SaveableHeader.h"

using namespace quorvane;
using namespace qvtest;

namespace {

// A saveable without metadata: body is an int32 and a string.
class Record : public Saveable
{
public:
  explicit Record(int32_t contextId = 7, std::string className = "QvTestRecord")
      : contextId(contextId), className(std::move(className))
  {
  }

  int32_t contextId;
  std::string className;
  int32_t value = 0;
  std::string text;
  // When >= 0, saveImpl throws after writing this many body bytes.
  int failAfter = -1;

  int32_t getContextId() const override { return contextId; }
  std::string getClassName() const override { return className; }

  void saveImpl(std::ostream& out) const override
  {
    if (failAfter >= 0) {
      out.write("XXXXXXXX", failAfter);
      throw std::runtime_error("save failed on purpose");
    }
    BinIoUtils::writeInt32(out, value);
    BinIoUtils::writeString(out, text);
  }

  void loadImpl(std::istream& in) override
  {
    value = BinIoUtils::readInt32(in);
    text = BinIoUtils::readString(in, 1000);
  }

  static const HeContext* lastContext;
  static std::shared_ptr<Saveable> createAndLoad(const HeContext& he,
                                                 const SaveableHeader& header, std::istream& in)
  {
    lastContext = &he;
    auto record = std::make_shared<Record>(header.contextId);
    record->load(in, header);
    return record;
  }
};

const HeContext* Record::lastContext = nullptr;

// A second class, so that typed loads can find the wrong one.
class Other : public Record
{
public:
  explicit Other(int32_t contextId = 7) : Record(contextId, "QvTestOther") {}
  static std::shared_ptr<Saveable> createAndLoad(const HeContext&, const SaveableHeader& header,
                                                 std::istream& in)
  {
    auto other = std::make_shared<Other>(header.contextId);
    other->load(in, header);
    return other;
  }
};

std::shared_ptr<Saveable> loadNothing(const HeContext&, const SaveableHeader&, std::istream&)
{
  return nullptr;
}

const bool recordRegistered = Saveable::registerLoadFunction("QvTestRecord", &Record::createAndLoad);
const bool otherRegistered = Saveable::registerLoadFunction("QvTestOther", &Other::createAndLoad);
const bool nothingRegistered = Saveable::registerLoadFunction("QvTestNothing", &loadNothing);

Record sampleRecord()
{
  Record r(7);
  r.value = 0x01020304;
  r.text = "hi";
  return r;
}

// A stream buffer that cannot seek, so streams over it cannot tell positions.
class UnseekableOut : public std::streambuf
{
public:
  std::string data;

protected:
  int_type overflow(int_type c) override
  {
    if (!traits_type::eq_int_type(c, traits_type::eof()))
      data.push_back(traits_type::to_char_type(c));
    return traits_type::not_eof(c);
  }
};

class UnseekableIn : public std::streambuf
{
public:
  explicit UnseekableIn(const std::string& s) : data(s)
  {
    setg(&data[0], &data[0], &data[0] + data.size());
  }

private:
  std::string data;
};

} // namespace

TEST(Saveable, SaveWritesHeaderThenBodyAndCountsBytes)
{
  Record r = sampleRecord();
  std::ostringstream out;
  out << "prefix";
  std::streamoff count = r.save(out);
  std::string expected = headerBytes("QvTestRecord", 7) + le32(0x01020304) +
                         le32(3) + std::string("hi\0", 3);
  EXPECT_EQ(out.str(), "prefix" + expected);
  // 17 bytes plus the class name, then 4 + 7 body bytes.
  EXPECT_EQ(count, 17 + 12 + 4 + 7);
  EXPECT_EQ(static_cast<size_t>(count), expected.size());
}

TEST(Saveable, LoadReadsBackAndReturnsSameCount)
{
  Record r = sampleRecord();
  std::string bytes = saved(r) + "trailing";
  std::istringstream in(bytes);
  Record loaded(7);
  EXPECT_FALSE(loaded.isPopulated());
  EXPECT_EQ(loaded.load(in), static_cast<std::streamoff>(bytes.size() - 8));
  EXPECT_EQ(loaded.value, 0x01020304);
  EXPECT_EQ(loaded.text, "hi");
  EXPECT_TRUE(loaded.isPopulated());
  // The stream stays just after the object.
  EXPECT_EQ(in.tellg(), static_cast<std::streamoff>(bytes.size() - 8));
}

TEST(Saveable, HeaderChecksRunBeforeTheBody)
{
  struct Case
  {
    std::string stream;
    int32_t loaderContext;
    std::string loaderClass;
    std::string message;
  };
  std::string body = le32(99) + le32(1) + std::string("\0", 1);
  std::vector<Case> cases = {
      {headerBytes("QvTestOther", 7) + body, 7, "QvTestRecord",
       "loading failed due to a mismatching class name field"},
      {headerBytes("QvTestRecord", 8) + body, 7, "QvTestRecord",
       "loading failed due to mismatching contexts."},
      {"XXXX" + headerBytes("QvTestRecord", 7).substr(4) + body, 7, "QvTestRecord",
       "Input file is corrupt, or not an Quorvane file."},
      // A class name compared before the context id.
      {headerBytes("PTile", 8) + body, 7, "CTile",
       "loading failed due to a mismatching class name field"},
  };
  for (const Case& c : cases) {
    Record target(c.loaderContext, c.loaderClass);
    target.value = 5;
    std::istringstream in(c.stream);
    EXPECT_EQ(quietMessageOf<std::runtime_error>([&] { target.load(in); }), c.message) << c.message;
    EXPECT_EQ(target.value, 5);
    EXPECT_FALSE(target.isPopulated());
  }
}

TEST(Saveable, OnlyPlaintextTilesLoadUnderAnotherContextId)
{
  std::string body = le32(42) + le32(1) + std::string("\0", 1);
  Record ptile(3, "PTile");
  std::istringstream in(headerBytes("PTile", 11) + body);
  EXPECT_NO_THROW(ptile.load(in));
  EXPECT_EQ(ptile.value, 42);

  Record ctile(3, "CTile");
  std::istringstream in2(headerBytes("CTile", 11) + body);
  EXPECT_EQ(quietMessageOf<std::runtime_error>([&] { ctile.load(in2); }),
            "loading failed due to mismatching contexts.");
}

TEST(Saveable, TruncatedBodyLeavesObjectUnpopulated)
{
  std::string bytes = saved(sampleRecord());
  std::istringstream in(bytes.substr(0, bytes.size() - 2));
  Record loaded(7);
  EXPECT_THROW(loaded.load(in), std::runtime_error);
  EXPECT_FALSE(loaded.isPopulated());
}

TEST(Saveable, LoadAfterPopulatedReadsOver)
{
  Record r = sampleRecord();
  Record target(7);
  std::istringstream in1(saved(r));
  target.load(in1);
  r.value = -1;
  std::istringstream in2(saved(r));
  target.load(in2);
  EXPECT_EQ(target.value, -1);
}

TEST(Saveable, DefaultsForClassesWithoutStorage)
{
  Record r = sampleRecord();
  EXPECT_FALSE(r.allowsStorage());
  EXPECT_EQ(r.toString(VERBOSITY_DETAILED), "Object (detailed printing not implemented yet)");
  std::ostringstream out;
  try {
    r.saveMetadata(out);
    FAIL() << "saveMetadata did not assert";
  } catch (const assert_error& e) {
    std::string m = e.what();
    EXPECT_EQ(m.rfind("hebase/utils/Saveable.cpp:", 0), 0u) << m;
    EXPECT_NE(m.find(": Assertion failed: allowsStorage()"), std::string::npos) << m;
  }
  std::istringstream in;
  EXPECT_THROW(r.loadMetadata(in), assert_error);
  EXPECT_TRUE(out.str().empty());
  EXPECT_FALSE(r.isInputStorageAttached());
  EXPECT_FALSE(r.isOutputStorageAttached());
  EXPECT_THROW(r.getInputStorage(), assert_error);
  EXPECT_THROW(r.getOutputStorage(), assert_error);
}

TEST(Saveable, CountsBytesOnStreamsThatCannotTellPositions)
{
  Record r = sampleRecord();
  std::string expected = saved(r);

  UnseekableOut sink;
  std::ostream out(&sink);
  ASSERT_EQ(static_cast<std::streamoff>(out.tellp()), -1);
  EXPECT_EQ(r.save(out), static_cast<std::streamoff>(expected.size()));
  EXPECT_EQ(out.rdbuf(), &sink);
  EXPECT_TRUE(out.good());
  EXPECT_EQ(sink.data, expected);

  UnseekableIn source(expected + "tail");
  std::istream in(&source);
  ASSERT_EQ(static_cast<std::streamoff>(in.tellg()), -1);
  Record loaded(7);
  EXPECT_EQ(loaded.load(in), static_cast<std::streamoff>(expected.size()));
  EXPECT_EQ(in.rdbuf(), &source);
  EXPECT_EQ(loaded.text, "hi");
  std::string rest;
  in >> rest;
  EXPECT_EQ(rest, "tail");
}

TEST(Saveable, RegistryRefusesDuplicatesAndKeepsTheFirst)
{
  EXPECT_TRUE(recordRegistered);
  EXPECT_TRUE(otherRegistered);
  EXPECT_TRUE(nothingRegistered);
  EXPECT_EQ(&Saveable::getLoaderRegistry(), &Saveable::getLoaderRegistry());
  EXPECT_EQ(Saveable::getLoaderRegistry().at("QvTestRecord"), &Record::createAndLoad);
  EXPECT_EQ(quietMessageOf<std::runtime_error>([] {
              Saveable::registerLoadFunction("QvTestRecord", &Other::createAndLoad);
            }),
            "Duplicate load function of object QvTestRecord");
  EXPECT_EQ(Saveable::getLoaderRegistry().at("QvTestRecord"), &Record::createAndLoad);
  EXPECT_THROW(Saveable::registerLoadFunction("QvTestNull", nullptr), std::invalid_argument);
  EXPECT_EQ(Saveable::getLoaderRegistry().count("QvTestNull"), 0u);

  // Loads still go through the first function.
  std::istringstream in(saved(sampleRecord()));
  auto loaded = Saveable::loadSaveable(someContext(), in);
  EXPECT_NE(std::dynamic_pointer_cast<Record>(loaded), nullptr);
  EXPECT_EQ(std::dynamic_pointer_cast<Other>(loaded), nullptr);
}

TEST(Saveable, PolymorphicLoadBuildsTheRegisteredClass)
{
  Other o(7);
  o.value = 17;
  o.text = "other";
  std::string bytes = saved(o) + saved(sampleRecord());
  std::istringstream in(bytes);
  Record::lastContext = nullptr;

  auto first = Saveable::loadSaveable(someContext(), in);
  auto second = Saveable::loadSaveable(someContext(), in);
  ASSERT_NE(std::dynamic_pointer_cast<Other>(first), nullptr);
  EXPECT_EQ(std::dynamic_pointer_cast<Other>(first)->text, "other");
  EXPECT_TRUE(first->isPopulated());
  ASSERT_NE(std::dynamic_pointer_cast<Record>(second), nullptr);
  EXPECT_EQ(std::dynamic_pointer_cast<Record>(second)->value, 0x01020304);
  EXPECT_EQ(Record::lastContext, &someContext());
  EXPECT_EQ(in.tellg(), static_cast<std::streamoff>(bytes.size()));
}

TEST(Saveable, PolymorphicLoadRefusals)
{
  std::string header = headerBytes("HeContext", 7);
  std::istringstream in(header + "body");
  EXPECT_EQ(quietMessageOf<std::runtime_error>([&] { Saveable::loadSaveable(someContext(), in); }),
            "File contains unrecognized Saveable object HeContext");
  EXPECT_EQ(in.tellg(), static_cast<std::streamoff>(header.size()));

  std::istringstream in2(headerBytes("QvTestNothing", 7));
  EXPECT_EQ(quietMessageOf<std::runtime_error>([&] { Saveable::loadSaveable(someContext(), in2); }),
            "The load function of object QvTestNothing returned no object");

  std::istringstream in3("QVR");
  EXPECT_THROW(Saveable::loadSaveable(someContext(), in3), std::runtime_error);
}

TEST(Saveable, TypedLoad)
{
  std::istringstream in(saved(sampleRecord()));
  EXPECT_EQ(quietMessageOf<std::runtime_error>(
                [&] { loadSaveableAs<Other>(someContext(), in, "QvTestOther"); }),
            "Expected input to contain an object of type QvTestOther. Instead found "
            "QvTestRecord");

  Other o(7);
  o.value = 3;
  std::istringstream in2(saved(o));
  std::shared_ptr<Record> asBase = loadSaveableAs<Record>(someContext(), in2, "QvTestRecord");
  ASSERT_NE(asBase, nullptr);
  EXPECT_EQ(asBase->value, 3);
  EXPECT_EQ(asBase->getClassName(), "QvTestOther");
}

TEST(Saveable, FilesRoundTrip)
{
  TempDir dir;
  Record r = sampleRecord();
  std::string path = dir.file("record.bin");
  std::streamoff written = r.saveToFile(path);
  EXPECT_EQ(written, static_cast<std::streamoff>(saved(r).size()));
  EXPECT_EQ(readFile(path), saved(r));
  EXPECT_EQ(dir.entries(), std::vector<std::string>{"record.bin"});

  Record loaded(7);
  EXPECT_EQ(loaded.loadFromFile(path), written);
  EXPECT_EQ(loaded.text, "hi");

  // Saving again replaces the file.
  r.text = "a longer text than before";
  r.saveToFile(path);
  EXPECT_EQ(readFile(path), saved(r));
}

TEST(Saveable, FileErrors)
{
  TempDir dir;
  Record r = sampleRecord();
  std::string missingDir = dir.file("no/such/dir.bin");
  EXPECT_EQ(quietMessageOf<std::runtime_error>([&] { r.saveToFile(missingDir); }),
            "Failed to open file " + missingDir);
  EXPECT_EQ(quietMessageOf<std::runtime_error>([&] { r.loadFromFile(dir.file("missing.bin")); }),
            "Failed to open file " + dir.file("missing.bin"));
  EXPECT_EQ(quietMessageOf<std::runtime_error>([&] { r.saveToFile(dir.path().string()); }),
            "Failed to open file " + dir.path().string());

  // A file that ends early fails through the stream's exception.
  std::string bytes = saved(r);
  std::ofstream(dir.file("short.bin"), std::ios::binary) << bytes.substr(0, bytes.size() - 3);
  Record loaded(7);
  EXPECT_THROW(loaded.loadFromFile(dir.file("short.bin")), std::ios_base::failure);
  EXPECT_FALSE(loaded.isPopulated());
}

TEST(Saveable, FailedSaveToFileKeepsTheOldFile)
{
  TempDir dir;
  Record r = sampleRecord();
  std::string path = dir.file("record.bin");
  r.saveToFile(path);
  std::string good = readFile(path);

  Record failing = sampleRecord();
  failing.failAfter = 3;
  EXPECT_EQ(quietMessageOf<std::runtime_error>([&] { failing.saveToFile(path); }),
            "save failed on purpose");
  EXPECT_EQ(readFile(path), good);
  EXPECT_EQ(dir.entries(), std::vector<std::string>{"record.bin"});

  EXPECT_THROW(failing.saveToFile(dir.file("new.bin")), std::runtime_error);
  EXPECT_EQ(dir.entries(), std::vector<std::string>{"record.bin"});
}

TEST(Saveable, OpenBinaryFilesSetTheExceptionMask)
{
  TempDir dir;
  std::string path = dir.file("f.bin");
  {
    std::ofstream out = Saveable::openBinaryFileForWrite(path);
    EXPECT_EQ(out.exceptions(), std::ios::failbit | std::ios::badbit);
    out << "abcdef";
  }
  {
    std::ofstream out = Saveable::openBinaryFileForWrite(path);
    out << "xy";
  }
  EXPECT_EQ(readFile(path), "xy");
  std::ifstream in = Saveable::openBinaryFileForRead(path);
  EXPECT_EQ(in.exceptions(), std::ios::failbit | std::ios::badbit);
  char buf[4];
  EXPECT_THROW(in.read(buf, 4), std::ios_base::failure);
}
