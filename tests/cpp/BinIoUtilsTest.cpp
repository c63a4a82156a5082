#include <gtest/gtest.h>

#include <functional>
#include <sstream>

#include "TestUtils.h"
#include "hebase/utils/BinIoUtils.h"

using namespace quorvane;
using namespace qvtest;

TEST(BinIoUtils, FieldLayouts)
{
  std::ostringstream out;
  BinIoUtils::writeBool(out, true);
  BinIoUtils::writeInt32(out, -2);
  BinIoUtils::writeDouble(out, 1.0);
  BinIoUtils::writeSizeT(out, 0x0102030405060708ULL);
  BinIoUtils::writeUint64(out, 7);
  EXPECT_EQ(out.str(), bytes({1, 0xFE, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0, 0xF0, 0x3F, 8, 7, 6, 5,
                              4, 3, 2, 1, 7, 0, 0, 0, 0, 0, 0, 0}));
  std::istringstream in(out.str());
  EXPECT_TRUE(BinIoUtils::readBool(in));
  EXPECT_EQ(BinIoUtils::readInt32(in), -2);
  EXPECT_EQ(BinIoUtils::readDouble(in), 1.0);
  EXPECT_EQ(BinIoUtils::readSizeTChecked(in, UINT64_MAX), 0x0102030405060708ULL);
  EXPECT_EQ(BinIoUtils::readUint64(in), 7u);
}

TEST(BinIoUtils, StringLayouts)
{
  std::ostringstream out;
  BinIoUtils::writeString(out, "abc");
  BinIoUtils::writeString(out, "");
  EXPECT_EQ(out.str(), bytes({4, 0, 0, 0, 'a', 'b', 'c', 0, 1, 0, 0, 0, 0}));
  std::istringstream in(out.str());
  EXPECT_EQ(BinIoUtils::readString(in), "abc");
  EXPECT_EQ(BinIoUtils::readString(in), "");
}

TEST(BinIoUtils, StringKeepsInnerNuls)
{
  std::istringstream in(bytes({3, 0, 0, 0, 'a', 0, 0}));
  EXPECT_EQ(BinIoUtils::readString(in), std::string("a\0", 2));
}

TEST(BinIoUtils, BoolByteTwoIsTrue)
{
  std::istringstream in(bytes({2}));
  EXPECT_TRUE(BinIoUtils::readBool(in));
}

TEST(BinIoUtils, IllegalStrings)
{
  struct Case
  {
    std::string stream;
    std::string message;
  };
  const std::string corrupt101 =
      "Input stream is corrupt.\nAttempting to load from stream a string of size 101 where the "
      "expected maximum at current position is 100";
  std::vector<Case> cases = {
      {bytes({0, 0, 0, 0}), "illegal string"},
      {bytes({0xFF, 0xFF, 0xFF, 0xFF}), "illegal string"},
      {bytes({5, 0, 0, 0, 'a', 'b', 'c', 'd', 'e'}), "illegal string"},
      {bytes({101, 0, 0, 0}), corrupt101},
  };
  for (const Case& c : cases) {
    std::istringstream in(c.stream);
    EXPECT_EQ(messageOf<std::runtime_error>([&] { BinIoUtils::readString(in, 100); }), c.message);
  }
}

// A string field of a saved record names the record and the field when it is
// illegal; a length above the maximum keeps readString's report.
TEST(BinIoUtils, IllegalRecordStringsNameTheField)
{
  struct Case
  {
    std::string stream;
    std::string message;
  };
  const std::string prefix = "Invalid saved Rec: the name ";
  std::vector<Case> cases = {
      {bytes({0, 0, 0, 0}), prefix + "has stored length 0, expected at least 1"},
      {bytes({0xFF, 0xFF, 0xFF, 0xFF}), prefix + "has stored length -1, expected at least 1"},
      {bytes({5, 0, 0, 0, 'a', 'b', 'c', 'd', 'e'}), prefix + "does not end with a NUL byte"},
      {bytes({101, 0, 0, 0}),
       "Input stream is corrupt.\nAttempting to load from stream a string of size 101 where the "
       "expected maximum at current position is 100"},
      {bytes({3, 0, 0, 0, 'a'}),
       "Input stream ended or failed while reading the name of a saved Rec: the data is truncated "
       "or corrupt."},
  };
  for (const Case& c : cases) {
    std::istringstream in(c.stream);
    EXPECT_EQ(messageOf<std::runtime_error>(
                  [&] { BinIoUtils::readRecordString(in, "Rec", "the name", 100); }),
              c.message);
  }
  std::istringstream in(bytes({4, 0, 0, 0, 'a', '\0', 'c', '\0'}));
  EXPECT_EQ(BinIoUtils::readRecordString(in, "Rec", "the name", 100), std::string("a\0c", 3));
}

TEST(BinIoUtils, StringAtMaximumIsRead)
{
  std::ostringstream out;
  BinIoUtils::writeString(out, std::string(99, 'x'));
  std::istringstream in(out.str());
  EXPECT_EQ(BinIoUtils::readString(in, 100), std::string(99, 'x'));
}

TEST(BinIoUtils, StringMaximumTooLarge)
{
  std::istringstream in(bytes({1, 0, 0, 0, 0}));
  EXPECT_EQ(messageOf<std::runtime_error>([&] { BinIoUtils::readString(in, 0x280000001LL); }),
            "Internal error. Maximum length too large");
  EXPECT_EQ(messageOf<std::runtime_error>([&] { BinIoUtils::readString(in, -2); }),
            "Internal error. Maximum length too large");
  // Nothing was read.
  EXPECT_EQ(BinIoUtils::readString(in), "");
}

TEST(BinIoUtils, Int32CheckedRange)
{
  std::ostringstream out;
  for (int v : {0, 100000, -1, 100001})
    BinIoUtils::writeInt32(out, v);
  std::istringstream in(out.str());
  EXPECT_EQ(BinIoUtils::readInt32Checked(in, 0, 100000), 0);
  EXPECT_EQ(BinIoUtils::readInt32Checked(in, 0, 100000), 100000);
  EXPECT_EQ(messageOf<std::runtime_error>([&] { BinIoUtils::readInt32Checked(in, 0, 100000); }),
            "BinIoUtils::readInt32Checked() failed: The loaded value (-1) doesn't fall in the "
            "specified valid range ([0, 100000]).");
  EXPECT_EQ(messageOf<std::runtime_error>([&] { BinIoUtils::readInt32Checked(in, 0, 100000); }),
            "BinIoUtils::readInt32Checked() failed: The loaded value (100001) doesn't fall in the "
            "specified valid range ([0, 100000]).");
}

TEST(BinIoUtils, RecordFieldRange)
{
  struct Case
  {
    int32_t value;
    bool notSetAllowed;
    std::string message; // empty when accepted
  };
  const std::vector<Case> cases = {
      {0, false, ""},
      {4, false, ""},
      {-1, false, "Invalid saved Rec: f is -1, expected a value in [0, 4]"},
      {5, false, "Invalid saved Rec: f is 5, expected a value in [0, 4]"},
      {-1, true, ""},
      {2, true, ""},
      {-2, true, "Invalid saved Rec: f is -2, expected -1 (not set) or a value in [0, 4]"},
      {5, true, "Invalid saved Rec: f is 5, expected -1 (not set) or a value in [0, 4]"},
  };
  for (const Case& c : cases) {
    std::stringstream s;
    BinIoUtils::writeInt32(s, c.value);
    std::string message;
    try {
      EXPECT_EQ(BinIoUtils::readRecordField(s, "Rec", "f", 0, 4, c.notSetAllowed), c.value);
    } catch (const std::runtime_error& e) {
      message = e.what();
    }
    EXPECT_EQ(message, c.message) << c.value << " " << c.notSetAllowed;
    EXPECT_EQ(s.tellg(), std::streampos(4));
  }
}

TEST(BinIoUtils, SizeTCheckedIsUnsigned)
{
  std::istringstream in(bytes({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(messageOf<std::runtime_error>([&] { BinIoUtils::readSizeTChecked(in, 100000); }),
            "BinIoUtils::readSizeTChecked() failed: the loaded value (18446744073709551615) is "
            "larger than the specified maximum (100000).");
}

TEST(BinIoUtils, Int32Vectors)
{
  std::ostringstream out;
  BinIoUtils::writeInt32Vector(out, {});
  BinIoUtils::writeInt32Vector(out, {1, -1});
  EXPECT_EQ(out.str(), bytes({0, 0, 0, 0, 2, 0, 0, 0, 1, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF}));
  std::istringstream in(out.str());
  EXPECT_TRUE(BinIoUtils::readInt32Vector(in, 100000).empty());
  EXPECT_EQ(BinIoUtils::readInt32Vector(in, 100000), (std::vector<int>{1, -1}));

  std::istringstream tooMany(bytes({3, 0, 0, 0}));
  EXPECT_EQ(messageOf<std::runtime_error>([&] { BinIoUtils::readInt32Vector(tooMany, 2); }),
            "BinIoUtils::readInt32Checked() failed: The loaded value (3) doesn't fall in the "
            "specified valid range ([0, 2]).");
}

TEST(BinIoUtils, TruncatedReadsThrow)
{
  const std::string prefix = "Input stream ended or failed while reading ";
  struct Case
  {
    std::string stream;
    std::function<void(std::istream&)> read;
    std::string what;
  };
  std::vector<Case> cases = {
      {"", [](std::istream& in) { BinIoUtils::readBool(in); }, "a bool"},
      {bytes({1, 2, 3}), [](std::istream& in) { BinIoUtils::readInt32(in); }, "an int32"},
      {bytes({1, 2, 3, 4, 5, 6, 7}), [](std::istream& in) { BinIoUtils::readDouble(in); },
       "a double"},
      {bytes({1}), [](std::istream& in) { BinIoUtils::readSizeTChecked(in, 10); }, "a size"},
      {bytes({1, 2}), [](std::istream& in) { BinIoUtils::readUint64(in); }, "a uint64"},
      {bytes({4, 0, 0, 0, 'a', 'b'}), [](std::istream& in) { BinIoUtils::readString(in); },
       "a string"},
      {bytes({2, 0, 0, 0, 1, 0, 0, 0}),
       [](std::istream& in) { BinIoUtils::readInt32Vector(in, 10); }, "an int32"},
  };
  for (const Case& c : cases) {
    std::istringstream in(c.stream);
    EXPECT_EQ(messageOf<std::runtime_error>([&] { c.read(in); }),
              prefix + c.what + ": the data is truncated or corrupt.")
        << c.what;
  }
}

TEST(BinIoUtils, FailedWriteThrows)
{
  std::ostringstream out;
  out.setstate(std::ios::badbit);
  EXPECT_EQ(messageOf<std::runtime_error>([&] { BinIoUtils::writeInt32(out, 1); }),
            "Output stream failed while writing.");
}

TEST(BinIoUtils, StreamsWithExceptionsThrowTheirOwnFailure)
{
  std::istringstream in(bytes({7, 0, 0, 0, 'a'}));
  in.exceptions(std::ios::failbit | std::ios::badbit);
  EXPECT_THROW(BinIoUtils::readString(in), std::ios_base::failure);
}

TEST(BinIoUtils, HugeStoredLengthOnShortStreamFails)
{
  // A corrupt length near 2 GiB on a short stream: reported as truncated.
  std::istringstream in(bytes({0xFF, 0xFF, 0xFF, 0x7F, 'a', 'b', 0}));
  EXPECT_EQ(messageOf<std::runtime_error>([&] { BinIoUtils::readString(in); }),
            "Input stream ended or failed while reading a string: the data is truncated or "
            "corrupt.");
}

TEST(BinIoUtils, LongStringsCrossReadChunks)
{
  std::string text(3 * 1024 * 1024 + 17, 'q');
  text[1024 * 1024] = 'X';
  std::ostringstream out;
  BinIoUtils::writeString(out, text);
  EXPECT_EQ(out.str().size(), text.size() + 5);
  std::istringstream in(out.str());
  EXPECT_EQ(BinIoUtils::readString(in), text);
}

TEST(BinIoUtils, FailedChecksLeaveStreamAfterTheValue)
{
  std::istringstream in(bytes({9, 0, 0, 0, 0xAA, 0xBB}));
  EXPECT_THROW(BinIoUtils::readInt32Checked(in, 0, 8), std::runtime_error);
  EXPECT_EQ(in.tellg(), 4);
  std::istringstream str(bytes({101, 0, 0, 0, 'x'}));
  EXPECT_THROW(BinIoUtils::readString(str, 100), std::runtime_error);
  EXPECT_EQ(str.tellg(), 4);
  std::istringstream size(bytes({1, 0, 0, 0, 0, 0, 0, 1, 5}));
  EXPECT_THROW(BinIoUtils::readSizeTChecked(size, 100000), std::runtime_error);
  EXPECT_EQ(size.tellg(), 8);
}

TEST(BinIoUtils, CheckedReadsAcceptTheirLimits)
{
  std::ostringstream out;
  BinIoUtils::writeSizeT(out, 100000);
  BinIoUtils::writeInt32(out, -5);
  BinIoUtils::writeInt32Vector(out, std::vector<int>(3, 7));
  std::istringstream in(out.str());
  EXPECT_EQ(BinIoUtils::readSizeTChecked(in, BinIoUtils::MAX_ELEMENT_COUNT), 100000u);
  EXPECT_EQ(BinIoUtils::readInt32Checked(in, -5, -5), -5);
  EXPECT_EQ(BinIoUtils::readInt32Vector(in, 3), std::vector<int>(3, 7));
  // -1 stands for the 10 GiB default; a larger maximum is refused before reading.
  std::istringstream one(bytes({1, 0, 0, 0, 0}));
  EXPECT_EQ(BinIoUtils::readString(one, 0x280000000LL), "");
}

TEST(BinIoUtils, SavedSizesAreCheckedNotCut)
{
  struct Case
  {
    size_t size;
    bool accepted;
  };
  for (const Case& c : std::vector<Case>{{0, true},
                                         {2147483647u, true},
                                         {2147483648u, false},
                                         {(size_t(1) << 32) + 5, false},
                                         {SIZE_MAX, false}}) {
    SCOPED_TRACE(c.size);
    std::ostringstream out;
    if (c.accepted) {
      BinIoUtils::writeInt32Size(out, c.size, "a thing of size");
      EXPECT_EQ(out.str(), le32(static_cast<int32_t>(c.size)));
      continue;
    }
    // A size beyond the int32 range would have been cut to its low bits.
    expectThrowWithMessage<std::length_error>(
        [&] { BinIoUtils::writeInt32Size(out, c.size, "a thing of size"); },
        "Cannot save a thing of size " + std::to_string(c.size) +
            ": saved sizes are limited to 2147483647");
    EXPECT_EQ(out.str(), "");
  }
  // Counts and lengths go through it.
  std::ostringstream out;
  BinIoUtils::writeInt32Vector(out, {7, 8});
  BinIoUtils::writeString(out, "ab");
  EXPECT_EQ(out.str(), le32(2) + le32(7) + le32(8) + le32(3) + std::string("ab\0", 3));
}
