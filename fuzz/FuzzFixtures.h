#ifndef QUORVANE_FUZZ_FUZZFIXTURES_H
#define QUORVANE_FUZZ_FUZZFIXTURES_H

// What the fuzz targets share: the contexts their inputs are loaded into, and
// the rule that an input may be refused only with a clear error.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <new>
#include <sstream>
#include <stdexcept>
#include <string>

#include "hebase/HeContext.h"
#include "hebase/seal/SealCkksContext.h"

namespace quorvane {
namespace fuzz {

/// The files of the fixture directory (QUORVANE_FUZZ_FIXTURE): the saved
/// contexts and secret key that the seed corpora were made with, so that the
/// seeds' context ids match the contexts they load into.
struct Fixture
{
  std::string mockupContext;
  std::string sealContext;
  std::string sealSecretKey;
};

/// The fixture named by QUORVANE_FUZZ_FIXTURE; exits when it is missing.
const Fixture& fixture();

/// A context loaded from saved bytes.
std::shared_ptr<HeContext> loadContext(const std::string& bytes);

/// The fixture's mockup context.
const HeContext& mockupContext();

/// The fixture's SEAL context, with its secret key.
const SealCkksContext& sealContext();

/// Drops what the library writes to standard output and error.
void silenceOutput();

/// Runs a load. A clear error (a std::exception other than a failed
/// allocation or a length error, with a message) is an expected outcome;
/// anything else aborts, which the fuzzer reports with the input.
template <typename F>
void expectCleanLoad(F&& load)
{
  try {
    load();
  } catch (const std::bad_alloc&) {
    std::abort();
  } catch (const std::length_error&) {
    std::abort();
  } catch (const std::exception& e) {
    if (std::string(e.what()).empty())
      std::abort();
  }
}

/// The input as a string.
inline std::string bytesOf(const uint8_t* data, size_t size)
{
  return std::string(reinterpret_cast<const char*>(data), size);
}

} // namespace fuzz
} // namespace quorvane

#endif
