#ifndef QUORVANE_TESTS_CPP_TESTUTILS_H
#define QUORVANE_TESTS_CPP_TESTUTILS_H

// Helpers shared by the test files.

#include <gtest/gtest.h>

#include <stdlib.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iostream>
#include <memory>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "hebase/CTile.h"
#include "hebase/Encoder.h"
#include "hebase/HeConfigRequirement.h"
#include "hebase/HeContext.h"
#include "hebase/PublicFunctions.h"
#include "hebase/RunStats.h"
#include "hebase/mockup/MockupContext.h"
#include "hebase/mockup/TrackingContext.h"
#include "hebase/utils/Assert.h"
#include "hebase/utils/PrintUtils.h"
#include "hebase/utils/Saveable.h"
#include "hebase/utils/SaveableHeader.h"

namespace qvtest {

// ---- Expected byte strings ----

/// The bytes of the given values (each 0 to 255).
inline std::string bytes(std::initializer_list<int> values)
{
  std::string s;
  for (int v : values)
    s.push_back(static_cast<char>(v));
  return s;
}

/// A little-endian int32 field.
inline std::string le32(int32_t v)
{
  std::string s(4, '\0');
  for (int i = 0; i < 4; ++i)
    s[i] = static_cast<char>((static_cast<uint32_t>(v) >> (8 * i)) & 0xFF);
  return s;
}

/// A little-endian uint64 field.
inline std::string le64(uint64_t v)
{
  std::string s(8, '\0');
  for (int i = 0; i < 8; ++i)
    s[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
  return s;
}

/// The little-endian int32 field at pos.
inline int32_t int32At(const std::string& bytes, size_t pos)
{
  int32_t value;
  std::memcpy(&value, bytes.data() + pos, 4);
  return value;
}

/// The little-endian uint64 field at pos.
inline uint64_t uint64At(const std::string& bytes, size_t pos)
{
  uint64_t value;
  std::memcpy(&value, bytes.data() + pos, 8);
  return value;
}

/// The double field at pos.
inline double doubleAt(const std::string& bytes, size_t pos)
{
  double value;
  std::memcpy(&value, bytes.data() + pos, 8);
  return value;
}

/// The bytes with patch written over them from pos.
inline std::string patched(std::string bytes, size_t pos, const std::string& patch)
{
  bytes.replace(pos, patch.size(), patch);
  return bytes;
}

/// A one-byte bool field.
inline std::string boolByte(bool v) { return std::string(1, v ? '\1' : '\0'); }

/// Builds an expected byte record field by field.
struct Bytes
{
  std::string data;

  Bytes& raw(const std::string& s)
  {
    data += s;
    return *this;
  }
  Bytes& i32(int32_t v) { return raw(le32(v)); }
  Bytes& b(bool v) { return raw(boolByte(v)); }
  Bytes& f64(double v)
  {
    uint64_t bits;
    std::memcpy(&bits, &v, 8);
    return raw(le64(bits));
  }
  /// A length-prefixed, NUL-terminated string.
  Bytes& str(const std::string& s)
  {
    i32(static_cast<int32_t>(s.size() + 1));
    data += s;
    data.push_back('\0');
    return *this;
  }
  /// A saved-object header: magic, version 1.5.3.0, class name, context id.
  Bytes& header(const std::string& className, int32_t contextId)
  {
    raw(std::string("\x4E\x52\x56\x51", 4));
    raw(std::string("\x00\x03\x05\x01", 4));
    str(className);
    return i32(contextId);
  }
};

// ---- Slot values ----

/// The values rotated left by n slots (cyclically; negative n rotates right).
template <typename T>
std::vector<T> rotated(const std::vector<T>& values, int n)
{
  const int s = static_cast<int>(values.size());
  std::vector<T> res(s);
  for (int i = 0; i < s; ++i)
    res[i] = values[((i + n) % s + s) % s];
  return res;
}

/// Uniformly random complex values with real and imaginary parts in [-1, 1).
inline std::vector<std::complex<double>> randomComplex(unsigned seed, int count)
{
  std::mt19937 gen(seed);
  std::uniform_real_distribution<double> dist(-1.0, 1.0);
  std::vector<std::complex<double>> res(count);
  for (auto& v : res)
    v = std::complex<double>(dist(gen), dist(gen));
  return res;
}

/// Uniformly random reals in [lo, hi).
inline std::vector<double> randomReals(unsigned seed, int count, double lo, double hi)
{
  std::mt19937 gen(seed);
  std::uniform_real_distribution<double> dist(lo, hi);
  std::vector<double> res(count);
  for (auto& v : res)
    v = dist(gen);
  return res;
}

/// The values f(x) of the slots.
template <typename F>
std::vector<double> mapped(const std::vector<double>& values, F&& f)
{
  std::vector<double> res;
  for (double x : values)
    res.push_back(f(x));
  return res;
}

/// sum coefs[i] x^i, by Horner's rule.
inline double polyval(const std::vector<double>& coefs, double x)
{
  double res = 0;
  for (size_t i = coefs.size(); i-- > 0;)
    res = res * x + coefs[i];
  return res;
}

/// The odd sign polynomials in expanded form.
inline double signPolyG(double x)
{
  return (4589 * x - 16577 * std::pow(x, 3) + 25614 * std::pow(x, 5) - 12860 * std::pow(x, 7)) /
         1024;
}
inline double signPolyF(double x)
{
  return (35 * x - 35 * std::pow(x, 3) + 21 * std::pow(x, 5) - 5 * std::pow(x, 7)) / 16;
}

/// g applied gRep times, then f fRep times, to x / maxAbsVal; (y + 1) / 2 when binary.
inline double signApproximation(double x, int gRep, int fRep, double maxAbsVal, bool binary)
{
  double y = x / maxAbsVal;
  for (int i = 0; i < gRep; ++i)
    y = signPolyG(y);
  for (int i = 0; i < fRep; ++i)
    y = signPolyF(y);
  return binary ? (y + 1) / 2 : y;
}

/// A new ciphertext tile of the context holding the values (chain index -1: the top).
inline quorvane::CTile encrypted(const quorvane::HeContext& he, const std::vector<double>& values,
                                 int chainIndex = -1)
{
  quorvane::CTile res(he);
  quorvane::Encoder(he).encodeEncrypt(res, values, chainIndex);
  return res;
}

/// The real parts of a ciphertext tile's slots.
inline std::vector<double> decrypted(const quorvane::CTile& c)
{
  return quorvane::Encoder(c.getHeContext()).decryptDecodeDouble(c);
}

/// The largest absolute difference between the slots (the sizes are expected to match).
template <typename T>
double maxError(const std::vector<T>& actual, const std::vector<T>& expected)
{
  EXPECT_EQ(actual.size(), expected.size());
  double res = 0;
  for (size_t i = 0; i < std::min(actual.size(), expected.size()); ++i)
    res = std::max(res, static_cast<double>(std::abs(actual[i] - expected[i])));
  return res;
}

// ---- Exceptions ----

/// Runs f; returns the message of the E it throws, or "<no exception>".
/// Exceptions of other types pass through.
template <typename E, typename F>
std::string messageOf(F&& f)
{
  try {
    f();
  } catch (const E& e) {
    return e.what();
  }
  return "<no exception>";
}

/// Same as messageOf, with whatever f writes to standard error dropped.
template <typename E, typename F>
std::string quietMessageOf(F&& f)
{
  testing::internal::CaptureStderr();
  std::string message = "<no exception>";
  try {
    f();
  } catch (const E& e) {
    message = e.what();
  }
  testing::internal::GetCapturedStderr();
  return message;
}

/// The message of the std::runtime_error that loading obj from data throws.
template <typename T>
std::string loadError(T& obj, const std::string& data)
{
  std::istringstream in(data);
  return messageOf<std::runtime_error>([&] { obj.load(in); });
}

/// Checks that f throws E (or a type derived from it) with exactly the given message.
template <typename E, typename F>
void expectThrowWithMessage(F&& f, const std::string& message)
{
  try {
    f();
    ADD_FAILURE() << "no exception; expected: " << message;
  } catch (const E& e) {
    EXPECT_EQ(std::string(e.what()), message);
  } catch (const std::exception& e) {
    ADD_FAILURE() << "wrong exception type, message: " << e.what() << "; expected: " << message;
  }
}

/// Checks that f fails an internal assertion whose message ends with the given tail.
template <typename F>
void expectAssertionTail(F&& f, const std::string& tail, const std::string& file = "")
{
  try {
    f();
    ADD_FAILURE() << "no assertion; expected: " << tail;
  } catch (const quorvane::assert_error& e) {
    const std::string message = e.what();
    if (!file.empty()) {
      EXPECT_EQ(message.rfind(file + ":", 0), 0u) << message;
    }
    ASSERT_GE(message.size(), tail.size()) << message;
    EXPECT_EQ(message.substr(message.size() - tail.size()), tail) << message;
  }
}

/// Checks that f fails an internal assertion on the given condition text.
template <typename F>
void expectAssertion(F&& f, const std::string& condition)
{
  expectAssertionTail(f, ": Assertion failed: " + condition);
}

/// Checks that f fails an internal assertion on the condition in the given function.
template <typename F>
void expectAssertion(F&& f, const std::string& function, const std::string& condition)
{
  expectAssertionTail(f, ": " + function + ": Assertion failed: " + condition);
}

/// Same, raised in the given source file (relative to the source root).
template <typename F>
void expectAssertion(F&& f, const std::string& file, const std::string& function,
                     const std::string& condition)
{
  expectAssertionTail(f, ": " + function + ": Assertion failed: " + condition, file);
}

// ---- Output and global state ----

/// Collects what is written to standard output while alive.
class CoutCapture
{
public:
  CoutCapture() : old(std::cout.rdbuf(buffer.rdbuf())) {}
  ~CoutCapture() { std::cout.rdbuf(old); }
  CoutCapture(const CoutCapture&) = delete;
  CoutCapture& operator=(const CoutCapture&) = delete;
  std::string str() const { return buffer.str(); }

private:
  std::ostringstream buffer;
  std::streambuf* old;
};

/// Restores the global print options when a test ends.
class PrintOptionsGuard
{
public:
  PrintOptionsGuard() : saved(quorvane::getPrintOptions()) {}
  ~PrintOptionsGuard() { quorvane::getPrintOptions() = saved; }

private:
  quorvane::PrintOptions saved;
};

// ---- Files ----

/// A fresh directory under the system's temporary directory, removed with its contents.
class TempDir
{
public:
  explicit TempDir(const std::string& prefix = "qv-test-")
  {
    std::string pattern = (std::filesystem::temp_directory_path() / (prefix + "XXXXXX")).string();
    if (mkdtemp(&pattern[0]) == nullptr)
      throw std::runtime_error("cannot create a temporary directory from " + pattern);
    dir = pattern;
  }
  ~TempDir()
  {
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return dir; }
  /// The path of the named entry in the directory.
  std::string file(const std::string& name) const { return (dir / name).string(); }
  /// The names of the entries in the directory, sorted.
  std::vector<std::string> entries() const;

private:
  std::filesystem::path dir;
};

/// The whole content of a file ("" when it cannot be read).
inline std::string readFile(const std::string& path)
{
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

/// The names of the entries in a directory, sorted.
inline std::vector<std::string> entries(const std::string& dir)
{
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

inline std::vector<std::string> TempDir::entries() const { return qvtest::entries(dir.string()); }

/// readFile and entries for any path type with string() (std or boost).
template <typename Path, typename = decltype(std::declval<const Path&>().string())>
std::string readFile(const Path& path)
{
  return readFile(path.string());
}
template <typename Path, typename = decltype(std::declval<const Path&>().string())>
std::vector<std::string> entries(const Path& dir)
{
  return entries(dir.string());
}

// ---- Saved forms ----

/// A saved-object header written by the library.
inline std::string headerBytes(const std::string& className, int32_t contextId)
{
  std::ostringstream out;
  quorvane::SaveableHeader(className, contextId).save(out);
  return out.str();
}

/// The size of a saved tile's header ("CTile" or "PTile"): where its backend body starts.
inline const size_t TILE_HEADER = headerBytes("CTile", 0).size();

/// The saved form of a context.
inline std::string saved(const quorvane::HeContext& he)
{
  std::ostringstream out;
  he.save(out);
  return out.str();
}

/// The saved form of a context with the given public functions.
inline std::string saved(const quorvane::HeContext& he, const quorvane::PublicFunctions& pf)
{
  std::ostringstream out;
  he.save(out, pf);
  return out.str();
}

/// The saved form of a context's secret key.
inline std::string savedKey(const quorvane::HeContext& he, bool seedOnly = false)
{
  std::ostringstream out;
  he.saveSecretKey(out, seedOnly);
  return out.str();
}

/// The context loaded from its saved form, as a C (expected to be one).
template <typename C = quorvane::HeContext>
std::shared_ptr<C> loadContext(const std::string& bytes)
{
  std::istringstream in(bytes);
  auto he = std::dynamic_pointer_cast<C>(quorvane::loadHeContext(in));
  EXPECT_NE(he, nullptr);
  return he;
}

/// The saved form of a saveable object.
inline std::string saved(const quorvane::Saveable& obj)
{
  std::ostringstream out;
  obj.save(out);
  return out.str();
}

/// The saved form of a plain record (anything with save(std::ostream&)).
template <typename T>
std::string savedRecord(const T& record)
{
  std::ostringstream out;
  record.save(out);
  return out.str();
}

// ---- Contexts ----

/// A stand-in for a context, for loaders that only pass the context's address on.
inline const quorvane::HeContext& someContext()
{
  alignas(64) static char placeholder[256];
  return *reinterpret_cast<const quorvane::HeContext*>(placeholder);
}

/// The refusal of an operand of the context operand by an object of the context self.
inline std::string otherContextMessage(const quorvane::HeContext& operand,
                                       const quorvane::HeContext& self)
{
  auto describe = [](const quorvane::HeContext& he) {
    return he.getRegistryKey() + ", context id " + std::to_string(he.getContextId());
  };
  return "The operand belongs to another HE context (" + describe(operand) +
         ") than this object (" + describe(self) + ")";
}

/// What printSignature writes for a context.
inline std::string signatureOf(const quorvane::HeContext& he)
{
  std::ostringstream out;
  he.printSignature(out);
  return out.str();
}

/// Public functions with the given fields.
inline quorvane::PublicFunctions publicFunctions(bool encrypt, bool relinearize,
                                                 quorvane::RotationSetType rotate,
                                                 quorvane::ConjugationSupport conjugate,
                                                 std::vector<int> steps = {})
{
  quorvane::PublicFunctions pf;
  pf.encrypt = encrypt;
  pf.relinearize = relinearize;
  pf.rotate = rotate;
  pf.conjugate = conjugate;
  pf.rotationSteps = std::move(steps);
  return pf;
}

/// A requirement with the given counts and security level (0: insecure) and default
/// public functions.
inline quorvane::HeConfigRequirement requirement(int slots, int depth, int frac, int integer,
                                                 int security)
{
  quorvane::HeConfigRequirement req;
  req.numSlots = slots;
  req.multiplicationDepth = depth;
  req.fractionalPartPrecision = frac;
  req.integerPartPrecision = integer;
  req.securityLevel = security;
  return req;
}

/// A bootstrappable insecure requirement.
inline quorvane::HeConfigRequirement
bootstrappable(int slots, int depth,
               const quorvane::BootstrapConfig& config = quorvane::BootstrapConfig(),
               bool automatic = false)
{
  quorvane::HeConfigRequirement req = quorvane::HeConfigRequirement::insecure(slots, depth);
  req.bootstrappable = true;
  req.automaticBootstrapping = automatic;
  req.bootstrapConfig = config;
  return req;
}

/// Starts counting the operations of a tracking context afresh.
inline void startCounting(quorvane::HeContext& he)
{
  dynamic_cast<quorvane::TrackingContext&>(he).startOperationCountTrack();
}

/// The operation counts of a tracking context while f runs.
template <typename F>
std::shared_ptr<quorvane::RunStats> tracked(quorvane::HeContext& he, F&& f)
{
  startCounting(he);
  f();
  return dynamic_cast<quorvane::TrackingContext&>(he).getRunStats();
}

/// The number of operations of the kind (a RunStats code) a tracking context counted.
inline int64_t countOf(const quorvane::HeContext& he, int code)
{
  return dynamic_cast<const quorvane::TrackingContext&>(he).getRunStats()->getTotalCount(code);
}

/// A mockup context made through the context registry.
inline std::shared_ptr<quorvane::HeContext> createMockup(const quorvane::HeConfigRequirement& req)
{
  return quorvane::HeContext::create("Mockup_Mockup", req);
}

/// An insecure mockup context made through the context registry.
inline std::shared_ptr<quorvane::HeContext> createMockup(int slots, int depth)
{
  return createMockup(quorvane::HeConfigRequirement::insecure(slots, depth));
}

/// A mockup context (or one of type C derived from it), initialised with an insecure
/// requirement.
template <typename C = quorvane::MockupContext>
std::shared_ptr<C> mockupContext(int slots, int depth)
{
  auto he = std::make_shared<C>();
  he->init(quorvane::HeConfigRequirement::insecure(slots, depth));
  return he;
}

/// A mockup context that claims scaled encoding.
class ScaledMockupContext : public quorvane::MockupContext
{
public:
  ScaledMockupContext() { traits.setSupportsScaledEncoding(true); }
};

/// A mockup context that hides chain indexes.
class NoChainIndexMockupContext : public quorvane::MockupContext
{
public:
  NoChainIndexMockupContext() { traits.setSupportsExplicitChainIndices(false); }
};

} // namespace qvtest

#endif
