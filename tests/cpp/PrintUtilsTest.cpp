#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <limits>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "hebase/utils/Assert.h"
#include "hebase/utils/PrintUtils.h"
#include "hebase/utils/TextBox.h"
#include "math/DoubleTensor.h"

using namespace quorvane;

namespace {

// Restores the global options after each test.
class PrintUtilsTest : public testing::Test
{
protected:
  void TearDown() override { getPrintOptions() = PrintOptions(); }

  static std::string vectorText(int n)
  {
    std::vector<std::complex<double>> values;
    for (int i = 1; i <= n; ++i)
      values.emplace_back(i, 0);
    std::ostringstream out;
    PrintUtils::printComplexVector(out, values);
    return out.str();
  }
};

} // namespace

TEST_F(PrintUtilsTest, DefaultOptions)
{
  const PrintOptions& o = getPrintOptions();
  EXPECT_EQ(o.numPrintedElements, 4);
  EXPECT_EQ(o.numPrintedLastElements, 1);
  EXPECT_TRUE(o.printComplexNumbers);
  EXPECT_TRUE(o.generalFloatFormat);
  EXPECT_EQ(o.precision, 3);
  EXPECT_EQ(o.tableCellWidth, 5);
  EXPECT_EQ(o.factor, 1.0);
  EXPECT_FALSE(o.printEncryptedContent);
  EXPECT_FALSE(o.ttDemoTiles);
}

TEST_F(PrintUtilsTest, VectorsWithGap)
{
  EXPECT_EQ(vectorText(6), "(1,0) (2,0) (3,0) (4,0) ...  (6,0)");
  EXPECT_EQ(vectorText(5), "(1,0) (2,0) (3,0) (4,0) (5,0)");
  EXPECT_EQ(vectorText(4), "(1,0) (2,0) (3,0) (4,0)");
  EXPECT_EQ(vectorText(0), "");
  getPrintOptions().numPrintedLastElements = 0;
  EXPECT_EQ(vectorText(6), "(1,0) (2,0) (3,0) (4,0) ... ");
}

TEST_F(PrintUtilsTest, MinusOneShowsEveryElement)
{
  struct Case
  {
    int head, tail;
    int64_t count;
    int64_t headEnd, tailStart;
  };
  // -1 is the only "all"; other negative heads show no leading element.
  const std::vector<Case> cases = {
      {-1, 1, 20, 20, 20}, {-1, 0, 6, 6, 6},    {-1, 5, 3, 3, 3}, {-1, 1, 0, 0, 0},
      {-2, 1, 6, 0, 5},    {0, 1, 6, 0, 5},     {4, 1, 6, 4, 5},  {4, -3, 6, 4, 6},
      {10, 1, 6, 6, 6},    {2, 10, 6, 2, 2},
  };
  for (const Case& c : cases) {
    getPrintOptions().numPrintedElements = c.head;
    getPrintOptions().numPrintedLastElements = c.tail;
    PrintedElements shown = PrintUtils::printedElements(c.count);
    EXPECT_EQ(shown.headEnd, c.headEnd) << c.head << " " << c.tail << " " << c.count;
    EXPECT_EQ(shown.tailStart, c.tailStart) << c.head << " " << c.tail << " " << c.count;
  }

  getPrintOptions().numPrintedElements = -1;
  getPrintOptions().numPrintedLastElements = 1;
  EXPECT_EQ(vectorText(6), "(1,0) (2,0) (3,0) (4,0) (5,0) (6,0)");
  std::string all;
  for (int i = 1; i <= 40; ++i)
    all += (i > 1 ? " (" : "(") + std::to_string(i) + ",0)";
  EXPECT_EQ(vectorText(40), all);
  getPrintOptions().numPrintedLastElements = 0;
  EXPECT_EQ(vectorText(6), "(1,0) (2,0) (3,0) (4,0) (5,0) (6,0)");
  std::ostringstream factored;
  PrintUtils::printFactoredComplexVector(factored, {{1, 0}, {2, 0}, {3, 0}, {4, 0}, {5, 0}}, 2.0);
  EXPECT_EQ(factored.str(), "Factored (by 2): (2,0) (4,0) (6,0) (8,0) (10,0)");
}

TEST_F(PrintUtilsTest, NumbersFollowOptions)
{
  std::ostringstream out;
  PrintUtils::printDouble(out, 1.0);
  out << "|";
  getPrintOptions().generalFloatFormat = false;
  PrintUtils::printDouble(out, 1.0);
  out << "|";
  getPrintOptions().generalFloatFormat = true;
  getPrintOptions().printComplexNumbers = false;
  PrintUtils::printComplex(out, {2.5, 3});
  out << "|";
  getPrintOptions().printComplexNumbers = true;
  PrintUtils::printComplex(out, {2.5, 3});
  EXPECT_EQ(out.str(), "1|1.000|2.5|(2.5,3)");
}

TEST_F(PrintUtilsTest, SettersRefuseValuesNoPrintCanHonour)
{
  struct Option
  {
    void (PrintOptions::*set)(int32_t);
    int32_t PrintOptions::*field;
  };
  const Option precision = {&PrintOptions::setPrecision, &PrintOptions::precision};
  const Option width = {&PrintOptions::setTableCellWidth, &PrintOptions::tableCellWidth};
  struct Refused
  {
    Option option;
    int32_t value;
    std::string message;
  };
  const std::string precisionRange = " is out of range: expected a value in [0, 30]";
  const std::string widthRange = " is out of range: expected a value in [0, 100]";
  const std::vector<Refused> refused = {
      {precision, -1, "Print precision -1" + precisionRange},
      {precision, 31, "Print precision 31" + precisionRange},
      {precision, 2147483647, "Print precision 2147483647" + precisionRange},
      {precision, -2147483647 - 1, "Print precision -2147483648" + precisionRange},
      {width, -1, "Table cell width -1" + widthRange},
      {width, 101, "Table cell width 101" + widthRange},
      {width, 2147483647, "Table cell width 2147483647" + widthRange},
      {width, -2147483647 - 1, "Table cell width -2147483648" + widthRange},
  };
  PrintOptions& options = getPrintOptions();
  for (const Refused& c : refused) {
    options.*c.option.field = 7;
    try {
      (options.*c.option.set)(c.value);
      ADD_FAILURE() << c.message;
    } catch (const std::invalid_argument& e) {
      EXPECT_EQ(e.what(), c.message);
    }
    EXPECT_EQ(options.*c.option.field, 7) << c.message;
  }
  // The bounds, and every value the defaults and the tests use, are accepted.
  for (const Option& option : {precision, width})
    for (int32_t value : {0, 2, 3, 5, 6, 9, 12, 30}) {
      (options.*option.set)(value);
      EXPECT_EQ(options.*option.field, value);
    }
  options.setTableCellWidth(100);
  EXPECT_EQ(options.tableCellWidth, 100);
}

// Fields written directly, past the setters, print as their nearest bound: no
// value overflows the stack or builds a cell of gigabytes.
TEST_F(PrintUtilsTest, PrintsClampFieldsWrittenDirectly)
{
  const int32_t lowest = std::numeric_limits<int32_t>::min();
  const int32_t highest = std::numeric_limits<int32_t>::max();
  auto number = [](int32_t precision, bool general) {
    getPrintOptions().precision = precision;
    getPrintOptions().generalFloatFormat = general;
    std::ostringstream out;
    PrintUtils::printDouble(out, 1.0 / 3);
    out << " ";
    PrintUtils::printComplex(out, {2.0 / 3, 1e-7});
    return out.str();
  };
  for (bool general : {true, false}) {
    const std::string most = number(30, general);
    const std::string least = number(0, general);
    EXPECT_EQ(number(highest, general), most);
    EXPECT_EQ(number(31, general), most);
    EXPECT_EQ(number(lowest, general), least);
    EXPECT_EQ(number(-1, general), least);
  }
  EXPECT_EQ(number(30, true),
            "0.333333333333333314829616256247 "
            "(0.666666666666666629659232512495,9.99999999999999954748111825886e-08)");
  EXPECT_EQ(number(30, false),
            "0.333333333333333314829616256247 "
            "(0.666666666666666629659232512495,0.000000099999999999999995474811)");
  EXPECT_EQ(number(0, true), "0.3 (0.7,1e-07)");
  EXPECT_EQ(number(0, false), "0 (1,0)");

  DoubleTensor table({1, 2});
  table.init({1.5, -2}, false);
  auto printed = [&table](int32_t width) {
    getPrintOptions().precision = 3;
    getPrintOptions().generalFloatFormat = true;
    getPrintOptions().tableCellWidth = width;
    std::ostringstream out;
    table.print2dTensor(out, false);
    return out.str();
  };
  const std::string widest = std::string(97, ' ') + "1.5" + std::string(98, ' ') + "-2\n";
  EXPECT_EQ(printed(100), widest);
  EXPECT_EQ(printed(highest), widest);
  EXPECT_EQ(printed(101), widest);
  EXPECT_EQ(printed(0), "1.5-2\n");
  EXPECT_EQ(printed(lowest), "1.5-2\n");
  EXPECT_EQ(printed(-1), "1.5-2\n");
}

TEST_F(PrintUtilsTest, FactoredVector)
{
  std::ostringstream out;
  PrintUtils::printFactoredComplexVector(out, {{1, 1}, {2, 0}}, 2.0);
  EXPECT_EQ(out.str(), "Factored (by 2): (2,2) (4,0)");
}

TEST_F(PrintUtilsTest, TitlesAndSeparators)
{
  struct Case
  {
    std::string kind, title, expected;
  };
  for (const Case& c : std::vector<Case>{
           {"CTile", "", "CTile"}, {"", "t", "t:"}, {"CTile", "x", "CTile x:"}, {"", "", ""}}) {
    std::ostringstream out;
    PrintUtils::printTitle(out, c.kind, c.title);
    EXPECT_EQ(out.str(), c.expected);
  }
  std::ostringstream out;
  PrintUtils::printTitleWithSeparators(out, "CTile", "x");
  std::string line(53, '=');
  EXPECT_EQ(out.str(), line + "\nCTile x:\n" + line + "\n");
  EXPECT_STREQ(PrintUtils::boolToString(true), "true");
  EXPECT_EQ(PrintUtils::decreaseVerbosity(VERBOSITY_NONE), VERBOSITY_NONE);
  EXPECT_EQ(PrintUtils::decreaseVerbosity(VERBOSITY_DETAILED), VERBOSITY_REGULAR);
}

TEST_F(PrintUtilsTest, Statistics)
{
  std::ostringstream out;
  PrintUtils::printDoubleVectorStats(out, "v", {-3, 1});
  EXPECT_EQ(out.str(), "v: N=2, mean=-1, meanSquares=5, maxMag=3, minMag=1\n");
  std::ostringstream empty;
  PrintUtils::printDoubleVectorStats(empty, "e", {});
  EXPECT_EQ(empty.str(), "e: N=0, mean=nan, meanSquares=nan, maxMag=0, minMag=0\n");
}

TEST_F(PrintUtilsTest, TextBoxLayout)
{
  TextBox box("ab\nc\n");
  EXPECT_EQ(box.getWidth(), 2);
  EXPECT_EQ(box.getHeight(), 2);
  EXPECT_EQ(box.getLines()[1], "c ");
  box.addBorder();
  EXPECT_EQ(box.getWidth(), 4);
  EXPECT_EQ(box.getHeight(), 4);
  EXPECT_EQ(box.getLines(), (std::vector<std::string>{"+--+", "|ab|", "|c |", "+--+"}));
  TextBox empty("");
  empty.addBorder();
  EXPECT_EQ(empty.getLines(), (std::vector<std::string>{"++", "++"}));
  std::ostringstream out;
  box.debugPrint("T", VERBOSITY_REGULAR, out);
  EXPECT_EQ(out.str(), "T\n+--+\n|ab|\n|c |\n+--+\n");
  std::ostringstream none;
  box.debugPrint("T", VERBOSITY_NONE, none);
  EXPECT_EQ(none.str(), "");
}

TEST_F(PrintUtilsTest, TextBoxRow)
{
  TextBox tall("a\nb\nc"), flat("xy");
  std::ostringstream out;
  TextBox::printRow(out, {"t1", "title2"}, {tall, flat}, 2);
  EXPECT_EQ(out.str(), "t1  title2\n"
                       "a  xy\n"
                       "b  \n"
                       "c  \n");
  try {
    TextBox::printRow(out, {"t"}, {}, 1);
    FAIL();
  } catch (const assert_error& e) {
    std::string message = e.what();
    std::string tail = ": printRow: Assertion failed: titles.size() == boxes.size() boxes and "
                       "titles do not match";
    EXPECT_EQ(message.substr(message.size() - tail.size()), tail);
    EXPECT_EQ(message.rfind("hebase/utils/TextBox.cpp:", 0), 0u);
  }
}

TEST_F(PrintUtilsTest, StatusFileScan)
{
  std::istringstream status("Name:\tx\nVmPeak:\t 999 kB\nVmRSS:\t  204800 kB\n");
  EXPECT_EQ(getStatusValueMb(status, "VmRSS:"), 200);
  std::istringstream less("VmRSS: 204799 kB\n");
  EXPECT_EQ(getStatusValueMb(less, "VmRSS:"), 199);
  std::istringstream missing("Name: x\n");
  EXPECT_EQ(getStatusValueMb(missing, "VmRSS:"), -1);
  std::istringstream noNumber("VmRSS: kB\n");
  EXPECT_EQ(getStatusValueMb(noNumber, "VmRSS:"), -1);
  EXPECT_GT(getMemoryUsedMb(), 0);
}

TEST_F(PrintUtilsTest, RowEdgeCases)
{
  TextBox a("ab"), b("c\nd");
  struct Case
  {
    std::vector<std::string> titles;
    std::vector<TextBox> boxes;
    int spacing;
    std::string expected;
  };
  std::vector<Case> cases = {
      // No spacing; a title longer than its box prints whole.
      {{"long", "t"}, {a, b}, 0, "longt\nabc\nd\n"},
      {{"", ""}, {a, b}, -3, "   \nabc\nd\n"},
      {{}, {}, 2, "\n"},
      {{"x"}, {TextBox()}, 1, "x\n"},
  };
  for (const Case& c : cases) {
    std::ostringstream out;
    TextBox::printRow(out, c.titles, c.boxes, c.spacing);
    EXPECT_EQ(out.str(), c.expected);
  }
}

TEST_F(PrintUtilsTest, FactoredVectorFollowsOptions)
{
  getPrintOptions().printComplexNumbers = false;
  getPrintOptions().numPrintedElements = 1;
  std::vector<std::complex<double>> values = {{1, 5}, {2, 5}, {3, 5}};
  std::ostringstream out;
  PrintUtils::printFactoredComplexVector(out, values, 0.5);
  EXPECT_EQ(out.str(), "Factored (by 0.5): 0.5 ...  1.5");
  getPrintOptions().precision = 2;
  getPrintOptions().generalFloatFormat = false;
  std::ostringstream fixed;
  PrintUtils::printComplexVector(fixed, {{1.0 / 3, 0}});
  EXPECT_EQ(fixed.str(), "0.33");
  // The target stream's own flags are left alone.
  fixed << 2.0;
  EXPECT_EQ(fixed.str(), "0.332");
}

TEST_F(PrintUtilsTest, PrintableStreamsAndStrings)
{
  TextBox box("hi");
  std::ostringstream out;
  out << box;
  EXPECT_EQ(out.str(), "hi\n");
  EXPECT_EQ(box.toString(VERBOSITY_LOW), "hi\n");
  EXPECT_EQ(box.toString(VERBOSITY_NONE), "");
  EXPECT_EQ(PrintUtils::decreaseVerbosity(VERBOSITY_LOW), VERBOSITY_NONE);
  EXPECT_EQ(PrintUtils::decreaseVerbosity(VERBOSITY_EXTRA_DETAILED), VERBOSITY_DETAILED);
  EXPECT_STREQ(PrintUtils::boolToString(false), "false");
  std::ostringstream separator;
  PrintUtils::printSeparator(separator);
  EXPECT_EQ(separator.str(), std::string(53, '=') + "\n");
}
