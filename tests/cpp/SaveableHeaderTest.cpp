#include <gtest/gtest.h>

#include <sstream>

#include "TestUtils.h"
#include "hebase/utils/BinIoUtils.h"
#include "hebase/utils/QuorvaneVersion.h"
#include "hebase/utils/SaveableHeader.h"

using namespace quorvane;
using namespace qvtest;

namespace {

struct LoadFailure
{
  std::string message;
  std::string printed;
};

LoadFailure loadHeader(const std::string& stream)
{
  std::istringstream in(stream);
  testing::internal::CaptureStderr();
  LoadFailure failure;
  try {
    SaveableHeader header(in);
    failure.message = "<no exception>";
  } catch (const std::runtime_error& e) {
    failure.message = e.what();
  }
  failure.printed = testing::internal::GetCapturedStderr();
  return failure;
}

std::string headerWithVersion(uint32_t packed)
{
  std::ostringstream out;
  BinIoUtils::writeInt32(out, SaveableHeader::MAGIC);
  BinIoUtils::writeInt32(out, static_cast<int32_t>(packed));
  BinIoUtils::writeString(out, "CTile");
  BinIoUtils::writeInt32(out, 7);
  return out.str();
}

// Read while the library's own static objects may not all be initialised yet.
const std::string versionSeenAtStartup = currentVersion.toString();

} // namespace

TEST(SaveableHeader, ByteLayout)
{
  std::ostringstream out;
  SaveableHeader("CTile", 7).save(out);
  EXPECT_EQ(out.str(), bytes({0x4E, 0x52, 0x56, 0x51, 0x00, 0x03, 0x05, 0x01, 0x06, 0x00, 0x00,
                              0x00, 0x43, 0x54, 0x69, 0x6C, 0x65, 0x00, 0x07, 0x00, 0x00, 0x00}));
  std::istringstream in(out.str());
  SaveableHeader loaded(in);
  EXPECT_EQ(loaded.className, "CTile");
  EXPECT_EQ(loaded.contextId, 7);
  EXPECT_EQ(loaded.version, 0x01050300);
  EXPECT_EQ(loaded.maxClassNameLength, 100);
  EXPECT_EQ(in.tellg(), 22);
}

TEST(SaveableHeader, BadMagicIsCheckedFirst)
{
  LoadFailure failure = loadHeader(bytes({1, 2, 3, 4, 9, 9, 9, 9}));
  EXPECT_EQ(failure.message, "Input file is corrupt, or not an Quorvane file.");
  EXPECT_EQ(failure.printed, "Input file is corrupt, or not an Quorvane file.\n"
                             "First 4 bytes are 4030201.\n"
                             "Quorvane files start with 5156524e.\n");
}

TEST(SaveableHeader, UnsupportedVersions)
{
  for (uint32_t packed : {0x01050301u, 0x01050200u, 0x02050300u}) {
    LoadFailure failure = loadHeader(headerWithVersion(packed));
    EXPECT_EQ(failure.message, "Failed loading object from file: unsupported version.");
    EXPECT_EQ(failure.printed, "Failed loading object from file: unsupported version.\n"
                               "Input file version: quorvane " +
                                   QuorvaneVersion(packed).toString() +
                                   ".\nCurrent version: quorvane 1.5.3.0.\n");
  }
}

TEST(SaveableHeader, ClassNameLengthLimit)
{
  std::ostringstream out;
  BinIoUtils::writeInt32(out, SaveableHeader::MAGIC);
  BinIoUtils::writeInt32(out, 0x01050300);
  BinIoUtils::writeInt32(out, 101);
  EXPECT_EQ(loadHeader(out.str()).message,
            "Input stream is corrupt.\nAttempting to load from stream a string of size 101 where "
            "the expected maximum at current position is 100");

  std::ostringstream ok;
  SaveableHeader(std::string(99, 'n'), 1).save(ok);
  std::istringstream in(ok.str());
  EXPECT_EQ(SaveableHeader(in).className, std::string(99, 'n'));
}

TEST(SaveableHeader, TruncatedHeaderThrows)
{
  std::ostringstream out;
  SaveableHeader("CTile", 7).save(out);
  std::string whole = out.str();
  for (size_t cut : {size_t(0), size_t(3), size_t(10), size_t(20)}) {
    std::string message = loadHeader(whole.substr(0, cut)).message;
    EXPECT_NE(message.find("truncated or corrupt"), std::string::npos) << cut << ": " << message;
  }
}

TEST(SaveableHeader, MismatchReports)
{
  SaveableHeader header("CTile", 7);
  testing::internal::CaptureStderr();
  try {
    header.reportClassNameMismatch("PTile");
    FAIL();
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "loading failed due to a mismatching class name field");
  }
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Loading failed due to a mismatching class name field. Expecting: PTile. Received: "
            "CTile.");
  testing::internal::CaptureStderr();
  try {
    header.reportContextMismatch(9);
    FAIL();
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "loading failed due to mismatching contexts.");
  }
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Loading failed due to mismatching contexts.\n"
            "The input file belongs to context with id 7,\n"
            "while the context in memory has id 9.\n");
}

TEST(QuorvaneVersion, PackingAndPrinting)
{
  QuorvaneVersion packed(0x01050300u);
  EXPECT_TRUE(packed == QuorvaneVersion(1, 5, 3, 0));
  EXPECT_TRUE(packed == currentVersion);
  EXPECT_EQ(packed.toString(), "1.5.3.0");
  EXPECT_EQ(QuorvaneVersion(300, 5, 3, 0).major, 44);
  std::ostringstream out;
  out << currentVersion;
  EXPECT_EQ(out.str(), "quorvane 1.5.3.0");
}

TEST(SaveableHeader, NegativeMagicPrintsItsBitPattern)
{
  LoadFailure failure = loadHeader(bytes({0xFF, 0xFF, 0xFF, 0xFF, 0, 3, 5, 1}));
  EXPECT_EQ(failure.message, "Input file is corrupt, or not an Quorvane file.");
  EXPECT_EQ(failure.printed, "Input file is corrupt, or not an Quorvane file.\n"
                             "First 4 bytes are ffffffff.\n"
                             "Quorvane files start with 5156524e.\n");
  // The report leaves std::cerr in decimal.
  testing::internal::CaptureStderr();
  std::cerr << 255;
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "255");
}

TEST(SaveableHeader, ChecksRunInFieldOrder)
{
  struct Case
  {
    std::string stream;
    std::string message;
  };
  std::string magic = bytes({0x4E, 0x52, 0x56, 0x51});
  std::string version = bytes({0, 3, 5, 1});
  std::vector<Case> cases = {
      // A wrong version is reported before a bad class-name length.
      {magic + bytes({0, 3, 5, 2}) + bytes({101, 0, 0, 0}),
       "Failed loading object from file: unsupported version."},
      {magic + version + bytes({0, 0, 0, 0}),
       "Invalid saved object header: the class name has stored length 0, expected at least 1"},
      {magic + version + bytes({0xFE, 0xFF, 0xFF, 0xFF}),
       "Invalid saved object header: the class name has stored length -2, expected at least 1"},
      {magic + version + bytes({2, 0, 0, 0, 'a', 'b'}),
       "Invalid saved object header: the class name does not end with a NUL byte"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(loadHeader(c.stream).message, c.message);
}

TEST(SaveableHeader, ConstructedFieldsAndLength)
{
  SaveableHeader header("EncryptedData", -3);
  EXPECT_EQ(header.magic, 1364611662);
  EXPECT_EQ(header.version, 17105664);
  EXPECT_EQ(header.maxClassNameLength, 100);
  std::ostringstream out;
  header.save(out);
  EXPECT_EQ(out.str().size(), 17u + 13u);
  EXPECT_EQ(out.str().substr(out.str().size() - 4), bytes({0xFD, 0xFF, 0xFF, 0xFF}));
}

TEST(QuorvaneVersion, ReadyDuringStaticInitialisation)
{
  EXPECT_EQ(versionSeenAtStartup, "1.5.3.0");
  EXPECT_EQ(QuorvaneVersion(0xFF000102u).toString(), "255.0.1.2");
  EXPECT_FALSE(QuorvaneVersion(1, 5, 3, 1) == currentVersion);
  EXPECT_EQ(currentVersion.toString(VERBOSITY_NONE), "quorvane 1.5.3.0");
}
