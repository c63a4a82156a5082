#include "hebase/seal/SealCkksPlaintext.h"

#include <cmath>
#include <complex>
#include <ostream>
#include <stdexcept>

#include <seal/context.h>
#include <seal/evaluator.h>
#include <seal/memorymanager.h>
#include <seal/serialization.h>
#include <seal/util/common.h>
#include <seal/util/ntt.h>
#include <seal/util/numth.h>
#include <seal/util/uintcore.h>

#include "hebase/ValueChecks.h"
#include "hebase/seal/CrtArithmetic.h"
#include "hebase/seal/SealCkksContext.h"
#include "hebase/seal/SealCkksEncoder.h"
#include "hebase/seal/SealObjectLoader.h"
#include "hebase/utils/Assert.h"
#include "hebase/utils/PrintUtils.h"

namespace quorvane {

namespace {

/// Decimal text of a 128-bit signed integer.
std::string int128ToString(__int128 value)
{
  if (value == 0)
    return "0";
  bool negative = value < 0;
  unsigned __int128 magnitude =
      negative ? static_cast<unsigned __int128>(-(value + 1)) + 1 : value;
  std::string digits;
  while (magnitude > 0) {
    digits.insert(digits.begin(), static_cast<char>('0' + static_cast<int>(magnitude % 10)));
    magnitude /= 10;
  }
  return negative ? "-" + digits : digits;
}

/// The n * k words of the plaintext brought back to coefficient form, each
/// block r reduced modulo prime r.
seal::util::Pointer<uint64_t> toCoefficientForm(const seal::SEALContext& context,
                                                const seal::Plaintext& copy, size_t& n,
                                                size_t& k)
{
  auto contextData = context.get_context_data(copy.parms_id());
  if (!contextData)
    throw std::runtime_error("The plaintext does not belong to this SealCkksContext");
  const auto& parms = contextData->parms();
  const auto& moduli = parms.coeff_modulus();
  k = moduli.size();
  n = parms.poly_modulus_degree();
  size_t total = seal::util::mul_safe(n, k);
  if (copy.coeff_count() < total)
    throw std::runtime_error("The plaintext holds fewer coefficients than its level needs");
  auto words = seal::util::allocate_uint(total, seal::MemoryManager::GetPool());
  std::copy_n(copy.data(), total, words.get());
  const seal::util::NTTTables* tables = contextData->small_ntt_tables();
  for (size_t r = 0; r < k; ++r) {
    uint64_t* block = words.get() + r * n;
    seal::util::inverse_ntt_negacyclic_harvey(block, tables[r]);
    uint64_t q = moduli[r].value();
    for (size_t j = 0; j < n; ++j)
      if (block[j] >= q)
        block[j] -= q;
  }
  return words;
}

} // namespace

SealCkksPlaintext::SealCkksPlaintext(const SealCkksContext& he)
    : AbstractPlaintext(he), heContext(he), sealPlaintext(seal::MemoryManager::GetPool())
{
}

SealCkksPlaintext::SealCkksPlaintext(const SealCkksPlaintext& src)
    : AbstractPlaintext(src), heContext(src.heContext), sealPlaintext(src.sealPlaintext)
{
}

SealCkksPlaintext::~SealCkksPlaintext() {}

std::shared_ptr<AbstractPlaintext> SealCkksPlaintext::doClone() const
{
  return std::make_shared<SealCkksPlaintext>(*this);
}

int64_t SealCkksPlaintext::save(std::ostream& out) const
{
  std::streampos before = out.tellp();
  std::streamoff written = sealPlaintext.save(out, seal::compr_mode_type::zstd);
  std::streampos after = out.tellp();
  if (before == std::streampos(-1) || after == std::streampos(-1))
    return written;
  return static_cast<int64_t>(after - before);
}

int64_t SealCkksPlaintext::load(std::istream& in)
{
  seal::Plaintext loaded(seal::MemoryManager::GetPool());
  std::streamoff read = SealObjectLoader::loadPlaintext(in, heContext.getSealContext(), loaded);
  // SEAL's check leaves an encoded plaintext (NTT form at a chain index of
  // this context, one coefficient per slot and prime) or, for CKKS, an empty
  // one: a plaintext saved before anything was encoded into it.
  sealPlaintext = std::move(loaded);
  return read;
}

bool SealCkksPlaintext::isEmpty() const
{
  return sealPlaintext.coeff_count() == 0 && sealPlaintext.parms_id() == seal::parms_id_zero;
}

int SealCkksPlaintext::getChainIndex() const
{
  auto contextData = heContext.getSealContext().get_context_data(sealPlaintext.parms_id());
  if (!contextData) {
    if (isEmpty())
      throw std::runtime_error("The plaintext is empty: nothing has been encoded into it");
    throw std::runtime_error("The plaintext does not belong to this SealCkksContext");
  }
  return static_cast<int>(contextData->chain_index());
}

bool SealCkksPlaintext::followsAccurateScaling() const
{
  QV_ASSERT(heContext.getUseAccurateScaling());
  return seal::util::are_close(getScale(), heContext.getAccurateScale(getChainIndex()));
}

void SealCkksPlaintext::reencode(int chainIndex)
{
  SealCkksEncoder encoder(heContext);
  std::vector<std::complex<double>> values = encoder.decodeComplex(*this);
  encoder.encode(*this, values, chainIndex);
}

void SealCkksPlaintext::setChainIndex(int chainIndex)
{
  if (chainIndex < 0)
    throw std::runtime_error("cannot set the chain index below zero, and asked to set to " +
                             std::to_string(chainIndex));
  int top = heContext.getTopChainIndex();
  if (chainIndex > top)
    throw std::runtime_error("cannot set the chain index above the top chain index " +
                             std::to_string(top) + ", and asked to set to " +
                             std::to_string(chainIndex));
  int current = getChainIndex();
  if (chainIndex == current)
    return;
  if (heContext.getUseAccurateScaling() && followsAccurateScaling()) {
    reencode(chainIndex);
  } else if (current > chainIndex) {
    heContext.getEvaluator().mod_switch_to_inplace(
        sealPlaintext, heContext.getParmsIdForChainIndex(chainIndex));
  } else {
    reencode(chainIndex);
  }
}

void SealCkksPlaintext::setScale(double scale)
{
  ValueChecks::checkScale(scale);
  sealPlaintext.scale() = scale;
}

double SealCkksPlaintext::getScale() const { return sealPlaintext.scale(); }

int SealCkksPlaintext::slotCount() const { return heContext.slotCount(); }

bool SealCkksPlaintext::isAllZeroes() const { return sealPlaintext.is_zero(); }

int64_t SealCkksPlaintext::getEstimatedMemoryUsageBytes() const
{
  if (isEmpty())
    return 0;
  int32_t perPrime = slotCount() * (getChainIndex() + 1) * 16;
  return static_cast<int64_t>(perPrime);
}

void SealCkksPlaintext::debugPrint(const std::string& title, Verbosity verbosity,
                                   std::ostream& out) const
{
  if (isEmpty()) {
    if (verbosity == VERBOSITY_NONE)
      return;
    PrintUtils::printTitle(out, "PTile", title);
    out << " EMPTY" << std::endl;
    return;
  }
  if (verbosity < VERBOSITY_DETAILED) {
    AbstractPlaintext::debugPrint(title, verbosity, out);
    return;
  }
  SealCkksEncoder encoder(heContext);
  std::vector<std::complex<double>> values = encoder.decodeComplex(*this);
  double maxValue = 0;
  for (const auto& v : values)
    maxValue = std::max(maxValue, std::abs(v));
  double scale = getScale();
  PrintUtils::printTitleWithSeparators(out, "SEAL-CKKS Plaintext", title);
  out << "chain index        : " << getChainIndex() << std::endl;
  out << "max value          : " << maxValue << std::endl;
  out << "bit usage          : " << std::log2(maxValue * scale) << std::endl;
  out << "scale              : " << scale << "=2^" << std::log2(scale) << std::endl;
  out << "slots              : " << values.size() << std::endl;
  if (verbosity >= VERBOSITY_EXTRA_DETAILED) {
    out << "is_ntt_form : " << (sealPlaintext.is_ntt_form() ? 1 : 0) << std::endl;
    out << "coeff_count        : " << sealPlaintext.coeff_count() << std::endl;
    out << "data_.size         : " << sealPlaintext.dyn_array().size() << std::endl;
  }
  PrintUtils::printComplexVector(out, values);
  out << std::endl;
  seal::Plaintext copy = sealPlaintext;
  debugPrintCoefficients(copy, verbosity, out);
  printCoefsCRT(getPrintOptions().numPrintedElements, out);
  PrintUtils::printSeparator(out);
}

void SealCkksPlaintext::debugPrintCoefficients(const seal::Plaintext& copy, Verbosity verbosity,
                                               std::ostream& out) const
{
  heContext.debugPrint("", verbosity, out);
  size_t n = 0;
  size_t k = 0;
  auto coefWords = toCoefficientForm(heContext.getSealContext(), copy, n, k);
  std::vector<int64_t> coefs = castToLongArray(coefWords.get(), n * k);
  auto contextData = heContext.getSealContext().get_context_data(copy.parms_id());
  const auto& moduli = contextData->parms().coeff_modulus();

  // Statistics of the residues modulo q0, centred.
  uint64_t q0 = moduli[0].value();
  uint64_t maxCoef = 0;
  unsigned __int128 sumCoef = 0;
  for (size_t j = 0; j < n; ++j) {
    uint64_t v = static_cast<uint64_t>(coefs[j]);
    uint64_t magnitude = v > q0 / 2 ? q0 - v : v;
    maxCoef = std::max(maxCoef, magnitude);
    sumCoef += magnitude;
  }
  out << "max  coef                    : " << maxCoef << std::endl;
  out << "mean coef                    : " << static_cast<uint64_t>(sumCoef / n) << std::endl;

  if (verbosity >= VERBOSITY_EXTRA_DETAILED) {
    out << "coefs (post-NTT):" << std::endl;
    printRnsPolynomial(castToLongArray(copy.data(), n * k), n, k, out);
  }
  out << "coefs (pre-NTT):" << std::endl;
  printRnsPolynomial(coefs, n, k, out);

  if (verbosity >= VERBOSITY_EXTRA_DETAILED && k > 1) {
    out << "post remod coefs:" << std::endl;
    uint64_t q1 = moduli[1].value();
    uint64_t w = 0;
    if (!seal::util::try_invert_uint_mod(q0 % q1, q1, w))
      throw std::logic_error("q0 is not invertible modulo q1");
    int limit = getPrintOptions().numPrintedElements;
    int64_t maxG = -1;
    for (size_t i = 0; i < n; ++i) {
      uint64_t a0 = static_cast<uint64_t>(coefs[i]);
      uint64_t a1 = static_cast<uint64_t>(coefs[n + i]);
      uint64_t diff = (a1 + q1 - a0 % q1) % q1;
      uint64_t g = static_cast<uint64_t>(
          (static_cast<unsigned __int128>(diff) * w) % static_cast<unsigned __int128>(q1));
      int64_t G = g > q1 / 2 ? static_cast<int64_t>(g) - static_cast<int64_t>(q1)
                             : static_cast<int64_t>(g);
      __int128 M = static_cast<__int128>(q0) * G + a0;
      maxG = std::max<int64_t>(maxG, G < 0 ? -G : G);
      if (limit != -1) {
        if (static_cast<int64_t>(i) == limit)
          out << ":" << std::endl;
        if (static_cast<int64_t>(i) >= limit && i <= n - 2)
          continue;
      }
      int64_t c0 = a0 > q0 / 2 ? static_cast<int64_t>(a0) - static_cast<int64_t>(q0)
                               : static_cast<int64_t>(a0);
      out << " <" << int128ToString(M) << "=" << c0 << "+" << G << "q>" << std::endl;
      for (size_t j = 0; j < k; ++j) {
        __int128 qj = moduli[j].value();
        __int128 e = ((M % qj) + qj) % qj;
        uint64_t residue = static_cast<uint64_t>(coefs[j * n + i]);
        if (static_cast<uint64_t>(e) != residue) {
          out << std::endl << "ERROR:" << std::endl;
          out << int128ToString(e) << " = " << int128ToString(M) << " % "
              << moduli[j].value() << " => " << "[" << j << "]" << int128ToString(e) << "/"
              << residue << std::endl;
        }
      }
    }
    out << std::endl << "max abs(m)  :" << maxG << std::endl;
    out << "------------------------------------------------------------------" << std::endl;
  }
}

void SealCkksPlaintext::printRnsPolynomial(const std::vector<int64_t>& values, size_t n,
                                           size_t k, std::ostream& out)
{
  if (n == 0)
    return;
  bool allSame = true;
  bool zeroTail = true;
  for (size_t r = 0; r < k; ++r) {
    for (size_t j = 1; j < n; ++j) {
      int64_t v = values[r * n + j];
      if (v != values[r * n])
        allSame = false;
      if (v != 0)
        zeroTail = false;
    }
  }
  int limit = getPrintOptions().numPrintedElements;
  for (size_t i = 0; i < n; ++i) {
    if (limit != -1) {
      if (static_cast<int64_t>(i) == limit)
        out << ":" << std::endl;
      if (static_cast<int64_t>(i) >= limit && i + 2 <= n)
        continue;
    }
    if (allSame)
      out << "  coef[0-" << n - 1 << "]=";
    else
      out << "  coef[" << i << "]=";
    size_t r = 0;
    bool first = true;
    while (r < k) {
      uint64_t v = static_cast<uint64_t>(values[r * n + i]);
      size_t run = 1;
      while (r + run < k && static_cast<uint64_t>(values[(r + run) * n + i]) == v)
        ++run;
      if (!first)
        out << ", ";
      first = false;
      out << v;
      if (run >= 2)
        out << "*" << run;
      r += run;
    }
    out << std::endl;
    if (allSame)
      return;
    if (zeroTail) {
      out << "  coef[1-" << n - 1 << "]=0" << std::endl;
      return;
    }
  }
}

std::vector<std::vector<uint64_t>>
SealCkksPlaintext::getCoefficientResidues(const seal::SEALContext& context,
                                          const seal::Plaintext& copy)
{
  size_t n = 0;
  size_t k = 0;
  auto coefWords = toCoefficientForm(context, copy, n, k);
  std::vector<int64_t> coefs = castToLongArray(coefWords.get(), n * k);
  std::vector<std::vector<uint64_t>> res(n, std::vector<uint64_t>(k));
  for (size_t j = 0; j < n; ++j)
    for (size_t r = 0; r < k; ++r)
      res[j][r] = static_cast<uint64_t>(coefs[r * n + j]);
  return res;
}

void SealCkksPlaintext::printCoefsCRT(int limit, std::ostream& out) const
{
  std::shared_ptr<std::vector<uint64_t>> chain = heContext.getModulusChain();
  std::vector<std::vector<uint64_t>> residues =
      getCoefficientResidues(heContext.getSealContext(), sealPlaintext);
  size_t n = residues.size();
  out << "coefsCRT:" << std::endl;
  size_t count = limit < 0 ? n : std::min(n, static_cast<size_t>(limit));
  for (size_t i = 0; i < count; ++i)
    out << "  coefCRT[" << i << "]=" << CrtArithmetic::crtCompose(residues[i], *chain)
        << std::endl;
  if (count + 1 < n) {
    out << " ... " << std::endl;
    out << "  coefCRT[" << n - 1 << "]=" << CrtArithmetic::crtCompose(residues[n - 1], *chain)
        << std::endl;
  }
}

std::vector<int64_t> SealCkksPlaintext::castToLongArray(const uint64_t* words, size_t count)
{
  std::vector<int64_t> res(count);
  for (size_t i = 0; i < count; ++i)
    res[i] = static_cast<int64_t>(words[i]);
  if (count > 0 && static_cast<uint64_t>(res[0]) != words[0])
    throw std::logic_error("problem casting array to long array");
  return res;
}

std::vector<int64_t> SealCkksPlaintext::castToLongArray(const seal::DynArray<uint64_t>& words,
                                                        size_t count)
{
  if (count > words.size())
    throw std::logic_error("problem casting array to long array");
  return castToLongArray(words.cbegin(), count);
}

} // namespace quorvane
