#include "hebase/seal/SealCkksCiphertext.h"

#include <cmath>
#include <complex>
#include <ostream>
#include <stdexcept>
#include <vector>

#include <seal/context.h>
#include <seal/evaluator.h>
#include <seal/galoiskeys.h>
#include <seal/memorymanager.h>
#include <seal/relinkeys.h>
#include <seal/serialization.h>
#include <seal/util/common.h>

#include "hebase/seal/SealCkksContext.h"
#include "hebase/seal/SealCkksEncoder.h"
#include "hebase/seal/SealCkksPlaintext.h"
#include "hebase/ValueChecks.h"
#include "hebase/seal/SealObjectLoader.h"
#include "hebase/utils/Assert.h"
#include "hebase/utils/PrintUtils.h"
#include "hebase/utils/SectionTimer.h"
#include "math/MathUtils.h"

namespace quorvane {

namespace {

// Timer labels, made once rather than on every call.
const std::string CIPHER_DO_CLONE = "SealCkksCipher::doClone";
const std::string CIPHER_SAVE = "SealCkksCipher::save";
const std::string CIPHER_LOAD = "SealCkksCipher::load";
const std::string CIPHER_ADD = "SealCkksCipher::add";
const std::string CIPHER_ADD_RAW = "SealCkksCipher::addRaw";
const std::string SEAL_ADD = "SEAL::add";
const std::string CIPHER_SUB = "SealCkksCipher::sub";
const std::string SEAL_SUB = "SEAL::sub";
const std::string CIPHER_MULTIPLY = "SealCkksCipher::multiply";
const std::string SEAL_MULTIPLY = "SEAL::multiply";
const std::string CIPHER_ADD_PLAIN = "SealCkksCipher::addPlain";
const std::string CIPHER_ADD_PLAIN_RAW = "SealCkksCipher::addPlainRaw";
const std::string CIPHER_SUB_PLAIN = "SealCkksCipher::subPlain";
const std::string CIPHER_SUB_PLAIN_RAW = "SealCkksCipher::subPlainRaw";
const std::string CIPHER_MULTIPLY_PLAIN = "SealCkksCipher::multiplyPlain";
const std::string CIPHER_MULTIPLY_PLAIN_RAW = "SealCkksCipher::multiplyPlainRaw";
const std::string CIPHER_SQUARE = "SealCkksCipher::square";
const std::string SEAL_SQUARE = "SEAL::square";
const std::string CIPHER_MULTIPLY_SCALAR_DOUBLE = "SealCkksCipher::multiplyScalar(double)";
const std::string CIPHER_MULTIPLY_SCALAR_INT = "SealCkksCipher::multiplyScalar(int)";
const std::string SEAL_RELINEARIZE = "SEAL::relinearize";
const std::string SEAL_RESCALE = "SEAL::rescale";
const std::string SEAL_RESCALE_RAW = "SEAL::rescaleRaw";
const std::string SEAL_CONJUGATE = "SEAL::conjugate";
const std::string CIPHER_NEGATE = "SealCkksCipher::negate";
const std::string CIPHER_ROTATE = "SealCkksCipher::rotate";
const std::string SEAL_ROTATE = "SEAL::rotate";
const std::string CIPHER_SET_CHAIN_INDEX = "SealCkksCipher::setChainIndex(int)";
const std::string CIPHERTEXT_IS_TRANSPARENT = "SealCkksCiphertext::isTransparent";
const std::string CIPHERTEXT_MULTIPLY_BY_ONE = "SealCkksCiphertext::multiplyByOneWithScale";
const std::string SEAL_MOD_SWITCH_TO = "SEAL::mod_switch_to";
const std::string CIPHERTEXT_DEBUG_PRINT = "SealCkksCiphertext::debugPrint";

const seal::Ciphertext& sealOf(const AbstractCiphertext& c)
{
  return dynamic_cast<const SealCkksCiphertext&>(c).getSealCiphertext();
}

const seal::Plaintext& sealOf(const AbstractPlaintext& p)
{
  return dynamic_cast<const SealCkksPlaintext&>(p).getSealPlaintext();
}

/// Whether relinearisation can bring a ciphertext of that many polynomials
/// back to two.
bool canRelinearize(const SealCkksContext& he, size_t polynomials)
{
  return he.getPublicFunctions().relinearize &&
         polynomials <= 2 + he.getRelinKeys().size();
}

} // namespace

SealCkksCiphertext::SealCkksCiphertext(const SealCkksContext& he)
    : AbstractCiphertext(he), he(he), sealCiphertext(seal::MemoryManager::GetPool())
{
}

SealCkksCiphertext::SealCkksCiphertext(const SealCkksCiphertext& src)
    : AbstractCiphertext(src), he(src.he), sealCiphertext(src.sealCiphertext)
{
}

SealCkksCiphertext::~SealCkksCiphertext() {}

std::shared_ptr<AbstractCiphertext> SealCkksCiphertext::doClone() const
{
  LeafTimer timer(CIPHER_DO_CLONE);
  return std::make_shared<SealCkksCiphertext>(*this);
}

int64_t SealCkksCiphertext::save(std::ostream& out) const
{
  LeafTimer timer(CIPHER_SAVE);
  if (isEmpty())
    throw std::runtime_error("Cannot save an empty ciphertext: nothing has been encrypted into it");
  std::streampos before = out.tellp();
  std::streamoff written = sealCiphertext.save(out, seal::compr_mode_type::none);
  std::streampos after = out.tellp();
  if (before == std::streampos(-1) || after == std::streampos(-1))
    return written;
  return static_cast<int64_t>(after - before);
}

int64_t SealCkksCiphertext::load(std::istream& in)
{
  LeafTimer timer(CIPHER_LOAD);
  seal::Ciphertext loaded(seal::MemoryManager::GetPool());
  // SEAL's validity check places the ciphertext at a chain index of this
  // context with its slot count.
  std::streamoff read = SealObjectLoader::loadCiphertext(in, he.getSealContext(), loaded);
  if (loaded.size() == 0)
    throw std::runtime_error("Invalid saved SEAL ciphertext: it holds no polynomials");
  sealCiphertext = std::move(loaded);
  return read;
}

void SealCkksCiphertext::add(const AbstractCiphertext& other)
{
  SectionTimer timer(CIPHER_ADD);
  addRaw(other);
}

void SealCkksCiphertext::addRaw(const AbstractCiphertext& other)
{
  SectionTimer timer(CIPHER_ADD_RAW);
  const seal::Ciphertext& o = sealOf(other);
  LeafTimer leaf(SEAL_ADD);
  he.getEvaluator().add_inplace(sealCiphertext, o);
}

void SealCkksCiphertext::sub(const AbstractCiphertext& other)
{
  SectionTimer timer(CIPHER_SUB);
  subRaw(other);
}

void SealCkksCiphertext::subRaw(const AbstractCiphertext& other)
{
  const seal::Ciphertext& o = sealOf(other);
  LeafTimer leaf(SEAL_SUB);
  he.getEvaluator().sub_inplace(sealCiphertext, o);
}

void SealCkksCiphertext::multiply(const AbstractCiphertext& other)
{
  SectionTimer timer(CIPHER_MULTIPLY);
  size_t product = sealCiphertext.size() + sealOf(other).size() - 1;
  runSteps(!canRelinearize(he, product) || !canRescale(), [&](SealCkksCiphertext& target) {
    target.multiplyRaw(other);
    target.relinearize();
    target.rescale();
  });
}

void SealCkksCiphertext::multiplyRaw(const AbstractCiphertext& other)
{
  const SealCkksCiphertext& o = dynamic_cast<const SealCkksCiphertext&>(other);
  LeafTimer leaf(SEAL_MULTIPLY);
  try {
    he.getEvaluator().multiply_inplace(sealCiphertext, o.sealCiphertext,
                                       seal::MemoryManager::GetPool());
  } catch (const std::invalid_argument& e) {
    if (std::string(e.what()) != "scale out of bounds")
      throw;
    bool thisAtZero = getChainIndex() == 0;
    bool otherAtZero = o.getChainIndex() == 0;
    if (!thisAtZero && !otherAtZero)
      throw;
    std::string who = thisAtZero ? "'this'" : "'other'";
    throw std::invalid_argument("SealCkksCiphertext::multiplyRaw - " + who +
                                " ciphertext is at chain index 0. Can't multiply ciphertexts "
                                "once they reach chain index 0.");
  }
}

void SealCkksCiphertext::addPlain(const AbstractPlaintext& plain)
{
  SectionTimer timer(CIPHER_ADD_PLAIN);
  addPlainRaw(plain);
}

void SealCkksCiphertext::addPlainRaw(const AbstractPlaintext& plain)
{
  const seal::Plaintext& p = sealOf(plain);
  LeafTimer leaf(CIPHER_ADD_PLAIN_RAW);
  he.getEvaluator().add_plain_inplace(sealCiphertext, p);
}

void SealCkksCiphertext::subPlain(const AbstractPlaintext& plain)
{
  SectionTimer timer(CIPHER_SUB_PLAIN);
  subPlainRaw(plain);
}

void SealCkksCiphertext::subPlainRaw(const AbstractPlaintext& plain)
{
  const seal::Plaintext& p = sealOf(plain);
  LeafTimer leaf(CIPHER_SUB_PLAIN_RAW);
  he.getEvaluator().sub_plain_inplace(sealCiphertext, p);
}

void SealCkksCiphertext::multiplyPlain(const AbstractPlaintext& plain)
{
  SectionTimer timer(CIPHER_MULTIPLY_PLAIN);
  runSteps(!canRescale(), [&](SealCkksCiphertext& target) {
    target.multiplyPlainRaw(plain);
    target.rescale();
  });
}

void SealCkksCiphertext::multiplyPlainRaw(const AbstractPlaintext& plain)
{
  const seal::Plaintext& p = sealOf(plain);
  LeafTimer leaf(CIPHER_MULTIPLY_PLAIN_RAW);
  he.getEvaluator().multiply_plain_inplace(sealCiphertext, p, seal::MemoryManager::GetPool());
}

void SealCkksCiphertext::square()
{
  SectionTimer timer(CIPHER_SQUARE);
  size_t product = 2 * sealCiphertext.size() - 1;
  runSteps(!canRelinearize(he, product) || !canRescale(), [&](SealCkksCiphertext& target) {
    target.squareRaw();
    target.relinearize();
    target.rescale();
  });
}

void SealCkksCiphertext::squareRaw()
{
  LeafTimer leaf(SEAL_SQUARE);
  he.getEvaluator().square_inplace(sealCiphertext, seal::MemoryManager::GetPool());
}

void SealCkksCiphertext::multiplyScalar(double x)
{
  SectionTimer timer(CIPHER_MULTIPLY_SCALAR_DOUBLE);
  SealCkksEncoder encoder(he);
  SealCkksPlaintext plain(he);
  encoder.encode(plain, x, getChainIndex());
  multiplyPlain(plain);
}

void SealCkksCiphertext::multiplyScalar(int n)
{
  SectionTimer timer(CIPHER_MULTIPLY_SCALAR_INT);
  if (n >= -4 && n <= 6 && n != 0) {
    if (n < 0) {
      negate();
      n = -n;
    }
    int b = static_cast<int>(MathUtils::roundDownToPowerOf2(static_cast<uint64_t>(n)));
    int r = n - b;
    seal::Ciphertext temp(seal::MemoryManager::GetPool());
    for (int k = 1; k < b; k *= 2) {
      if (k == r)
        temp = sealCiphertext;
      add(*this);
    }
    if (r > 0)
      he.getEvaluator().add_inplace(sealCiphertext, temp);
    return;
  }
  SealCkksEncoder encoder(he);
  encoder.setDefaultScale(1.0);
  SealCkksPlaintext plain(he);
  encoder.encode(plain, n, getChainIndex());
  multiplyPlainRaw(plain);
}

void SealCkksCiphertext::relinearize()
{
  LeafTimer leaf(SEAL_RELINEARIZE);
  he.getEvaluator().relinearize_inplace(sealCiphertext, he.getRelinKeys(),
                                        seal::MemoryManager::GetPool());
}

void SealCkksCiphertext::rescale()
{
  LeafTimer leaf(SEAL_RESCALE);
  int chainIndex = getChainIndex();
  double scale = getScale();
  rescaleRaw();
  if (he.getUseAccurateScaling()) {
    if (followsAccurateScaling())
      alignWithAccurateScaling();
  } else {
    setScale(std::ldexp(scale, -he.getCoeffModulusBitCount(chainIndex)));
  }
}

void SealCkksCiphertext::rescaleRaw()
{
  LeafTimer leaf(SEAL_RESCALE_RAW);
  he.getEvaluator().rescale_to_next_inplace(sealCiphertext, seal::MemoryManager::GetPool());
}

void SealCkksCiphertext::setScale(double scale)
{
  ValueChecks::checkScale(scale);
  sealCiphertext.scale() = scale;
}

double SealCkksCiphertext::getScale() const { return sealCiphertext.scale(); }

void SealCkksCiphertext::conjugate() { conjugateRaw(); }

void SealCkksCiphertext::conjugateRaw()
{
  LeafTimer leaf(SEAL_CONJUGATE);
  he.getEvaluator().complex_conjugate_inplace(sealCiphertext, he.getGaloisKeys(),
                                              seal::MemoryManager::GetPool());
}

void SealCkksCiphertext::negate()
{
  LeafTimer leaf(CIPHER_NEGATE);
  he.getEvaluator().negate_inplace(sealCiphertext);
}

void SealCkksCiphertext::rotate(int n)
{
  LeafTimer leaf(CIPHER_ROTATE);
  switch (he.getPublicFunctions().rotate) {
  case NO_ROTATIONS:
    throw std::runtime_error("This SealCkksContext does not support rotations");
  case DEFAULT_ROTATIONS: {
    const seal::GaloisKeys& keys = he.getGaloisKeys();
    LeafTimer sealLeaf(SEAL_ROTATE);
    he.getEvaluator().rotate_vector_inplace(sealCiphertext, n, keys,
                                            seal::MemoryManager::GetPool());
    break;
  }
  case CUSTOM_ROTATIONS: {
    std::vector<int> steps;
    if (!he.decomposeRotation(n, steps))
      throw std::runtime_error("The used SealCKKSContext does not support the required rotation.");
    const seal::GaloisKeys& keys = he.getGaloisKeys();
    for (int step : steps) {
      LeafTimer sealLeaf(SEAL_ROTATE);
      he.getEvaluator().rotate_vector_inplace(sealCiphertext, step, keys,
                                              seal::MemoryManager::GetPool());
    }
    break;
  }
  default:
    throw std::runtime_error("Unknown rotation set of the context");
  }
}

void SealCkksCiphertext::setChainIndex(int chainIndex)
{
  SectionTimer timer(CIPHER_SET_CHAIN_INDEX);
  int current = getChainIndex();
  if (current < chainIndex)
    throw std::runtime_error(
        "can only set the chain index down the prime chain, and asked to go from " +
        std::to_string(current) + " to " + std::to_string(chainIndex));
  if (chainIndex < 0)
    throw std::runtime_error("cannot set the chain index below zero, and asked to set to " +
                             std::to_string(chainIndex));
  if (chainIndex == current)
    return;
  if (he.getUseAccurateScaling() && followsAccurateScaling()) {
    double above = he.getAccurateScale(chainIndex + 1);
    multiplyByOneWithScale(above * above / getScale());
    modSwitchTo(he.getParmsIdForChainIndex(chainIndex + 1));
    rescaleRaw();
    alignWithAccurateScaling();
  } else {
    modSwitchTo(he.getParmsIdForChainIndex(chainIndex));
  }
}

int SealCkksCiphertext::getChainIndex() const
{
  auto contextData = he.getSealContext().get_context_data(sealCiphertext.parms_id());
  if (!contextData) {
    if (isEmpty())
      throw std::runtime_error("The ciphertext is empty: nothing has been encrypted into it");
    throw std::runtime_error("The ciphertext does not belong to this SealCkksContext");
  }
  return static_cast<int>(contextData->chain_index());
}

void SealCkksCiphertext::remod(uint64_t) {}

int SealCkksCiphertext::slotCount() const { return he.slotCount(); }

bool SealCkksCiphertext::isEmpty() const { return sealCiphertext.size() == 0; }

bool SealCkksCiphertext::isTransparent() const
{
  LeafTimer leaf(CIPHERTEXT_IS_TRANSPARENT);
  return sealCiphertext.is_transparent();
}

void SealCkksCiphertext::encryptZeroIfTransparent()
{
  if (isEmpty())
    return;
  AbstractCiphertext::encryptZeroIfTransparent();
}

int64_t SealCkksCiphertext::getEstimatedMemoryUsageBytes() const
{
  if (isEmpty())
    return 0;
  int32_t perPolynomial = slotCount() * (getChainIndex() + 1) * 16;
  return static_cast<int64_t>(perPolynomial) * static_cast<int64_t>(sealCiphertext.size());
}

bool SealCkksCiphertext::canRescale() const
{
  auto contextData = he.getSealContext().get_context_data(sealCiphertext.parms_id());
  // A ciphertext the context does not know is refused by the first step.
  return !contextData || contextData->next_context_data() != nullptr;
}

template <typename Steps>
void SealCkksCiphertext::runSteps(bool laterStepRefuses, Steps steps)
{
  if (!laterStepRefuses) {
    steps(*this);
    return;
  }
  // The steps run on a copy, so that the refusal leaves this ciphertext as it
  // was; the copy would be adopted if they all succeeded after all.
  SealCkksCiphertext copy(*this);
  steps(copy);
  sealCiphertext = std::move(copy.sealCiphertext);
}

bool SealCkksCiphertext::followsAccurateScaling() const
{
  QV_ASSERT(he.getUseAccurateScaling());
  return seal::util::are_close(getScale(), he.getAccurateScale(getChainIndex()));
}

void SealCkksCiphertext::alignWithAccurateScaling()
{
  QV_ASSERT(he.getUseAccurateScaling());
  setScale(he.getAccurateScale(getChainIndex()));
}

void SealCkksCiphertext::multiplyByOneWithScale(double s)
{
  QV_ASSERT(he.getUseAccurateScaling());
  LeafTimer leaf(CIPHERTEXT_MULTIPLY_BY_ONE);
  SealCkksEncoder encoder(he);
  encoder.setDefaultScale(s);
  SealCkksPlaintext one(he);
  encoder.encode(one, 1, getChainIndex());
  multiplyPlainRaw(one);
}

void SealCkksCiphertext::modSwitchTo(const std::array<uint64_t, 4>& parmsId)
{
  if (parmsId == sealCiphertext.parms_id())
    return;
  LeafTimer leaf(SEAL_MOD_SWITCH_TO);
  int current = getChainIndex();
  if (current > 0 && parmsId == he.getParmsIdForChainIndex(current - 1))
    he.getEvaluator().mod_switch_to_next_inplace(sealCiphertext, seal::MemoryManager::GetPool());
  else
    he.getEvaluator().mod_switch_to_inplace(sealCiphertext, parmsId,
                                            seal::MemoryManager::GetPool());
}

void SealCkksCiphertext::debugPrint(const std::string& title, Verbosity verbosity,
                                    std::ostream& out) const
{
  LeafTimer leaf(CIPHERTEXT_DEBUG_PRINT);
  const PrintOptions& options = getPrintOptions();
  if (options.printEncryptedContent) {
    const auto& words = sealCiphertext.dyn_array();
    int64_t count = static_cast<int64_t>(words.size());
    PrintedElements shown = PrintUtils::printedElements(count);
    out << "CIPHERTEXT [" << "[";
    for (int64_t i = 0; i < shown.headEnd; ++i) {
      if (i > 0)
        out << ",";
      out << static_cast<uint32_t>(words[i]);
    }
    if (shown.hasGap())
      out << " ... ";
    for (int64_t i = shown.tailStart; i < count; ++i) {
      if (i > 0)
        out << " ";
      out << static_cast<uint32_t>(words[i]);
    }
    out << "]" << " ]";
    return;
  }
  if (isEmpty()) {
    if (verbosity == VERBOSITY_NONE)
      return;
    PrintUtils::printTitle(out, "CTile", title);
    out << " EMPTY" << std::endl;
    return;
  }
  if (verbosity < VERBOSITY_DETAILED) {
    AbstractCiphertext::debugPrint(title, verbosity, out);
    return;
  }
  SealCkksEncoder encoder(he);
  std::vector<std::complex<double>> values = encoder.decryptDecodeComplex(*this);
  double maxValue = 0;
  for (const auto& v : values)
    maxValue = std::max(maxValue, std::abs(v));
  double scale = getScale();
  size_t n = sealCiphertext.poly_modulus_degree();
  size_t k = sealCiphertext.coeff_modulus_size();
  PrintUtils::printTitleWithSeparators(out, "SEAL-CKKS Ciphertext", title);
  out << "chain index         : " << getChainIndex() << std::endl;
  out << "max value           : " << maxValue << std::endl;
  out << "bit usage           : " << std::log2(scale * maxValue) << std::endl;
  out << "slots               : " << values.size() << std::endl;
  out << "size (polys)        : " << sealCiphertext.size() << std::endl;
  out << "scale               : " << scale << " = 2^" << std::log(scale) / std::log(2.0)
      << std::endl;
  out << "poly_modulus_degree_: " << n << std::endl;
  out << "coeff_modulus_size_ : " << k << std::endl;
  out << "is_ntt_form         : " << (sealCiphertext.is_ntt_form() ? 1 : 0) << std::endl;
  size_t polyWords = n * k;
  out << "data_               : size=" << sealCiphertext.dyn_array().size()
      << " capacity=" << (polyWords == 0 ? 0 : sealCiphertext.dyn_array().capacity() / polyWords)
      << std::endl;
  PrintUtils::printComplexVector(out, values);
  out << std::endl;
  if (options.factor != 1.0)
    PrintUtils::printFactoredComplexVector(out, values, options.factor);
  out << std::endl;
  if (verbosity >= VERBOSITY_EXTRA_DETAILED) {
    int limit = options.numPrintedElements;
    out << "ciphertext polynomials: " << std::endl;
    for (size_t i = 0; i < sealCiphertext.size(); ++i) {
      out << "Poly[" << i << "]:" << std::endl;
      const uint64_t* poly = sealCiphertext.data(i);
      for (size_t j = 0; j < n; ++j) {
        if (limit != -1) {
          if (static_cast<int64_t>(j) == limit)
            out << ":" << std::endl;
          if (static_cast<int64_t>(j) >= limit && j + 2 <= n)
            continue;
        }
        out << "coef[" << j << "]=";
        for (size_t r = 0; r < k; ++r)
          out << " " << poly[r * n + j];
        out << std::endl;
      }
      out << std::endl;
    }
  }
  SealCkksPlaintext plain(he);
  encoder.decrypt(plain, *this);
  plain.debugPrint(title + ": plaintext", verbosity, out);
  PrintUtils::printSeparator(out);
}

} // namespace quorvane
