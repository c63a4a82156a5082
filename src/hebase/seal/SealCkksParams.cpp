#include "hebase/seal/SealCkksParams.h"

#include <cmath>
#include <sstream>
#include <stdexcept>

#include <seal/ciphertext.h>
#include <seal/context.h>
#include <seal/encryptionparams.h>
#include <seal/kswitchkeys.h>
#include <seal/modulus.h>
#include <seal/publickey.h>
#include <seal/randomgen.h>
#include <seal/secretkey.h>
#include <seal/util/ntt.h>

namespace quorvane {

namespace {

// Fresh noise of SEAL's keys is bounded by about 21; anything far beyond means
// the residual is not noise.
constexpr uint64_t KEY_NOISE_BOUND = 64;

// Whether c0 + c1 * s is small in every RNS component except skipIndex.
bool residualIsSmall(const seal::SEALContext& context, const seal::SecretKey& secretKey,
                     const seal::Ciphertext& ct, size_t skipIndex)
{
  auto keyData = context.key_context_data();
  if (!keyData)
    return false;
  const seal::parms_id_type& keyParmsId = context.key_parms_id();
  if (secretKey.parms_id() != keyParmsId || ct.parms_id() != keyParmsId || ct.size() != 2 ||
      !ct.is_ntt_form())
    return false;
  const auto& moduli = keyData->parms().coeff_modulus();
  size_t n = keyData->parms().poly_modulus_degree();
  if (secretKey.data().coeff_count() != n * moduli.size())
    return false;
  const seal::util::NTTTables* tables = keyData->small_ntt_tables();
  std::vector<uint64_t> residual(n);
  for (size_t j = 0; j < moduli.size(); j++) {
    if (j == skipIndex)
      continue;
    uint64_t q = moduli[j].value();
    const uint64_t* c0 = ct.data(0) + j * n;
    const uint64_t* c1 = ct.data(1) + j * n;
    const uint64_t* s = secretKey.data().data() + j * n;
    for (size_t i = 0; i < n; i++) {
      unsigned __int128 prod = static_cast<unsigned __int128>(c1[i]) * s[i];
      uint64_t t = static_cast<uint64_t>(prod % q) + c0[i] % q;
      residual[i] = t >= q ? t - q : t;
    }
    seal::util::inverse_ntt_negacyclic_harvey(seal::util::CoeffIter(residual.data()), tables[j]);
    for (uint64_t v : residual) {
      uint64_t centered = v > q / 2 ? q - v : v;
      if (centered > KEY_NOISE_BOUND)
        return false;
    }
  }
  return true;
}

} // namespace

int SealCkksParams::roundSecurityLevel(int securityLevel)
{
  if (securityLevel == 0)
    return 0;
  if (securityLevel <= 128)
    return 128;
  if (securityLevel <= 192)
    return 192;
  if (securityLevel <= 256)
    return 256;
  throw std::runtime_error("Security level above 256 not supported");
}

SecretKeySeed SealCkksParams::drawSeed()
{
  unsigned char bytes[8 * 8];
  seal::random_bytes(reinterpret_cast<seal::seal_byte*>(bytes), sizeof(bytes));
  SecretKeySeed seed{};
  for (size_t w = 0; w < seed.size(); w++) {
    uint64_t word = 0;
    for (int b = 7; b >= 0; b--)
      word = (word << 8) | bytes[w * 8 + static_cast<size_t>(b)];
    seed[w] = word;
  }
  return seed;
}

std::vector<int> SealCkksParams::getDefaultRotationSteps(int slots)
{
  std::vector<int> steps;
  for (int step = 1; step < slots; step *= 2) {
    steps.push_back(step);
    steps.push_back(-step);
  }
  return steps;
}

std::vector<double> SealCkksParams::computeAccurateScales(const std::vector<uint64_t>& primes,
                                                          double scaleForDepthZero)
{
  if (primes.empty())
    throw std::invalid_argument("The modulus chain is empty");
  size_t top = primes.size() - 1;
  std::vector<double> table(top + 1);
  if (top == 0) {
    table[0] = scaleForDepthZero;
    return table;
  }
  double denominator = std::ldexp(1.0, static_cast<int>(top)) - 1.0;
  double scale = 1.0;
  for (size_t i = 1; i <= top; i++) {
    double exponent = std::ldexp(1.0, static_cast<int>(i) - 1) / denominator;
    scale *= std::pow(static_cast<double>(primes[i]), exponent);
  }
  table[top] = scale;
  for (size_t i = top; i >= 1; i--)
    table[i - 1] = table[i] * table[i] / static_cast<double>(primes[i]);
  return table;
}

std::string SealCkksParams::makeSignature(const seal::EncryptionParameters& parms,
                                          int securityLevel)
{
  const auto& moduli = parms.coeff_modulus();
  if (moduli.size() < 2)
    throw std::invalid_argument("The coefficient modulus must hold at least two primes");
  int mid = moduli[1].bit_count();
  int ext = moduli[0].bit_count() - mid;
  std::ostringstream out;
  out << "context_SEAL_KEY_DEG" << parms.poly_modulus_degree() << "_MID" << mid << "_EXT" << ext
      << "_D" << (moduli.size() - 2) << (securityLevel != 0 ? "_SEC" : "_INSEC");
  return out.str();
}

bool SealCkksParams::secretKeyMatchesPublicKey(const seal::SEALContext& context,
                                               const seal::SecretKey& secretKey,
                                               const seal::PublicKey& publicKey)
{
  return residualIsSmall(context, secretKey, publicKey.data(), static_cast<size_t>(-1));
}

bool SealCkksParams::secretKeyMatchesSwitchingKeys(const seal::SEALContext& context,
                                                   const seal::SecretKey& secretKey,
                                                   const seal::KSwitchKeys& keys)
{
  for (const auto& keyVector : keys.data()) {
    if (keyVector.empty())
      continue;
    // Key 0 carries the new key only in RNS component 0.
    return residualIsSmall(context, secretKey, keyVector[0].data(), 0);
  }
  return false;
}

} // namespace quorvane
