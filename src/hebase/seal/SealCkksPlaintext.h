#ifndef QUORVANE_HEBASE_SEAL_SEALCKKSPLAINTEXT_H
#define QUORVANE_HEBASE_SEAL_SEALCKKSPLAINTEXT_H

#include <cstdint>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include <seal/plaintext.h>

#include "hebase/AbstractPlaintext.h"

namespace seal {
class SEALContext;
} // namespace seal

namespace quorvane {

class SealCkksContext;

/// Encoded plaintext of the SEAL CKKS backend: one SEAL plaintext in NTT form
/// whose parameter id gives the chain index. The detailed print turns the
/// residues back into integer coefficients.
class SealCkksPlaintext : public AbstractPlaintext
{
  friend class SealCkksEncoder;

public:
  /// An empty plaintext of the context, which must outlive it.
  explicit SealCkksPlaintext(const SealCkksContext& he);
  SealCkksPlaintext(const SealCkksPlaintext& src);
  ~SealCkksPlaintext() override;

  /// Below VERBOSITY_DETAILED the short form; otherwise values, statistics,
  /// coefficients per prime and coefficients composed over all primes.
  void debugPrint(const std::string& title = "", Verbosity verbosity = VERBOSITY_REGULAR,
                  std::ostream& out = std::cout) const override;

protected:
  std::shared_ptr<AbstractPlaintext> doClone() const override;

public:
  /// SEAL's serialization, compressed with zstd; returns the bytes written.
  int64_t save(std::ostream& out) const override;
  /// Reads and validates a SEAL plaintext blob (an encoded plaintext, or an
  /// empty one as saved before anything was encoded); returns the bytes read.
  int64_t load(std::istream& in) override;

  /// Moves the plaintext to chainIndex (0 to top): drops primes, or re-encodes
  /// the values when moving up or when following the accurate scales.
  void setChainIndex(int chainIndex) override;
  /// Refuses an empty plaintext.
  int getChainIndex() const override;
  void setScale(double scale) override;
  double getScale() const override;
  int slotCount() const override;
  /// No coefficients, or all coefficients zero.
  bool isAllZeroes() const override;
  /// slots * (chain index + 1) * 16; 0 for an empty plaintext.
  int64_t getEstimatedMemoryUsageBytes() const override;

  /// True when nothing has been encoded, loaded or decrypted into it.
  bool isEmpty() const override;

  const seal::Plaintext& getSealPlaintext() const { return sealPlaintext; }
  seal::Plaintext& getSealPlaintext() { return sealPlaintext; }
  const SealCkksContext& getSealCkksContext() const { return heContext; }

  /// Whether the scale is the context's accurate scale of the chain index.
  bool followsAccurateScaling() const;

  /// Context print, coefficient statistics and the residues before and after
  /// the inverse NTT; at VERBOSITY_EXTRA_DETAILED also the two-prime check.
  void debugPrintCoefficients(const seal::Plaintext& copy, Verbosity verbosity,
                              std::ostream& out) const;

  /// The coefficients composed over all primes as big integers; a negative
  /// limit prints all of them.
  void printCoefsCRT(int limit, std::ostream& out) const;

  /// Writes a polynomial given as k blocks of n residues (block r modulo prime r).
  static void printRnsPolynomial(const std::vector<int64_t>& values, size_t n, size_t k,
                                 std::ostream& out);

  /// Residues of each coefficient (n vectors of k words) of the plaintext in
  /// coefficient form.
  static std::vector<std::vector<uint64_t>>
  getCoefficientResidues(const seal::SEALContext& context, const seal::Plaintext& copy);

  /// A signed copy of count words.
  static std::vector<int64_t> castToLongArray(const uint64_t* words, size_t count);
  static std::vector<int64_t> castToLongArray(const seal::DynArray<uint64_t>& words,
                                              size_t count);

private:
  const SealCkksContext& heContext;
  seal::Plaintext sealPlaintext;

  /// Decodes and encodes the values again at the chain index.
  void reencode(int chainIndex);
};

} // namespace quorvane

#endif
