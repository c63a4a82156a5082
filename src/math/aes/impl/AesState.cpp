#include "math/aes/impl/AesState.h"

#include <algorithm>
#include <bitset>
#include <stdexcept>
#include <string>
#include <utility>

#include "hebase/Encoder.h"
#include "hebase/HeContext.h"
#include "hebase/utils/Assert.h"
#include "math/aes/impl/AesBitwiseKey.h"
#include "math/aes/impl/AesUtils.h"

namespace quorvane {

namespace {

using Bit = std::shared_ptr<CTile>;

/// A new ciphertext: a copy of x multiplied by y.
Bit product(const Bit& x, const Bit& y)
{
  auto res = std::make_shared<CTile>(*x);
  res->multiply(*y);
  return res;
}

} // namespace

AesState::AesState(const HeContext& he, bool forward, Verbosity verbosity, std::ostream* out)
    : AesElement(he, verbosity, out), forward(forward), encryptedZero(he),
      encryptedOne(std::make_shared<CTile>(he))
{
  Encoder encoder(he);
  encoder.encodeEncrypt(encryptedZero, 0, -1);
  encoder.encodeEncrypt(*encryptedOne, 1, -1);
}

AesState::AesState(const AesState& src)
    : AesElement(src), sBoxSize(src.sBoxSize), forward(src.forward),
      encryptedZero(src.encryptedZero), encryptedOne(src.encryptedOne)
{
}

AesState::~AesState() {}

std::streamoff AesState::save(std::ostream&) const
{
  throw std::runtime_error("Saving AesState is not supported");
}

std::streamoff AesState::load(std::istream&)
{
  throw std::runtime_error("Loading AesState is not supported");
}

void AesState::validate(bool validateSameChainIndex) const
{
  // An unpacked state is reported as such by the element's check.
  if (packed)
    QV_ASSERT(tiles.size() == AesUtils::numBytesInAesBlock);
  AesElement::validate(validateSameChainIndex);
}

void AesState::heEncrypt(const std::vector<std::vector<uint8_t>>& blocks, int chainIndex)
{
  if (blocks.empty())
    throw std::runtime_error("No data was given to encrypt in AES state");
  if (blocks.front().size() != static_cast<size_t>(AesUtils::numBytesInAesBlock))
    throw std::runtime_error("AES state should have blocks of size " +
                             std::to_string(AesUtils::numBytesInAesBlock) +
                             " bytes each. Received a block of size " +
                             std::to_string(blocks.front().size()) + " bytes");
  AesElement::heEncrypt(blocks, chainIndex, true);
}

void AesState::addRoundKey(const AesBitwiseKey& roundKey)
{
  validate(true);
  roundKey.validateRoundKey();
  for (int b = 0; b < AesUtils::numBytesInAesBlock; ++b)
    for (int i = 0; i < AesUtils::numBitsInByte; ++i)
      AesUtils::bitwiseXor(tiles[b][i], roundKey.getBit(b, i));
  printStatus("finished addRoundKey");
}

std::vector<Bit> AesState::computeNibbleMonomials(int byteIndex, bool lowNibble)
{
  const int c = lowNibble ? 0 : 4;
  const std::vector<Bit>& row = tiles.at(byteIndex);
  const Bit t0 = row.at(c), t1 = row.at(c + 1), t2 = row.at(c + 2), t3 = row.at(c + 3);
  const Bit t01 = product(t0, t1);
  const Bit t02 = product(t0, t2);
  const Bit t03 = product(t0, t3);
  const Bit t12 = product(t1, t2);
  const Bit t13 = product(t1, t3);
  const Bit t23 = product(t2, t3);
  const Bit t012 = product(t01, t2);
  const Bit t013 = product(t01, t3);
  const Bit t023 = product(t02, t3);
  const Bit t123 = product(t12, t3);
  const Bit t0123 = product(t01, t23);
  return {encryptedOne, t0,  t1,  t01,  t2,  t02,  t12,  t012,
          t3,           t03, t13, t013, t23, t023, t123, t0123};
}

std::vector<std::vector<Bit>> AesState::computeIndicators(bool lowNibble)
{
  std::vector<std::vector<Bit>> ind(AesUtils::numBytesInAesBlock);
  for (int b = 0; b < AesUtils::numBytesInAesBlock; ++b) {
    const std::vector<Bit> mono = computeNibbleMonomials(b, lowNibble);
    // Expands the product over m of (t_m where bit m of k is set, else 1 - t_m).
    for (int k = 0; k < 16; ++k) {
      auto indicator = std::make_shared<CTile>(encryptedZero);
      for (int l = 0; l < 16; ++l) {
        if ((l & k) != k)
          continue;
        if (std::bitset<4>(l & ~k).count() % 2 == 1)
          indicator->sub(*mono[l]);
        else
          indicator->add(*mono[l]);
      }
      ind[b].push_back(std::move(indicator));
    }
  }
  return ind;
}

void AesState::subBytes()
{
  validate(true);
  const std::vector<std::vector<Bit>> lo = computeIndicators(true);
  const std::vector<std::vector<Bit>> hi = computeIndicators(false);
  const std::vector<uint8_t>& table = forward ? AesUtils::sBox : AesUtils::invSBox;
  for (int b = 0; b < AesUtils::numBytesInAesBlock; ++b) {
    // In each slot exactly one product is 1: the one of the byte it holds.
    std::vector<Bit> products(sBoxSize);
    for (int x = 0; x < sBoxSize; ++x)
      if (table[x] != 0)
        products[x] = product(hi[b][x >> 4], lo[b][x & 15]);
    for (int i = 0; i < AesUtils::numBitsInByte; ++i) {
      auto bit = std::make_shared<CTile>(encryptedZero);
      bit->setChainIndex(products[0]->getChainIndex());
      for (int x = 0; x < sBoxSize; ++x)
        if (products[x] && AesUtils::getBitAt(table[x], i, true))
          bit->add(*products[x]);
      tiles[b][i] = std::move(bit);
    }
  }
  printStatus("finished subBytes");
}

void AesState::shift(bool alongRow, bool towardsLower, int index)
{
  QV_ASSERT(index >= 0 && index < AesUtils::numBytesInAesRow);
  auto byteIndex = [&](int p) {
    return alongRow ? index + AesUtils::numBytesInAesRow * p
                    : p + AesUtils::numBytesInAesRow * index;
  };
  std::vector<std::vector<Bit>> old;
  for (int p = 0; p < AesUtils::numBytesInAesRow; ++p)
    old.push_back(std::move(tiles.at(byteIndex(p))));
  for (int p = 0; p < AesUtils::numBytesInAesRow; ++p)
    tiles[byteIndex(p)] = std::move(old[(p + (towardsLower ? 1 : 3)) % 4]);
}

void AesState::shiftRows()
{
  validate(true);
  for (int r = 0; r < AesUtils::numBytesInAesRow; ++r)
    for (int k = 0; k < r; ++k)
      shift(true, forward, r);
  printStatus("finished shiftRows");
}

void AesState::multiplyByTwo()
{
  validate(true);
  for (std::vector<Bit>& byte : tiles) {
    // New bit i is old bit i - 1; new bit 0 is old bit 7, which is then
    // reduced by x^8 = x^4 + x^3 + x + 1.
    std::rotate(byte.begin(), byte.begin() + 7, byte.end());
    for (int i : {1, 3, 4})
      AesUtils::bitwiseXor(byte[i], byte[0]);
  }
  alignChainIndexes();
}

void AesState::xorAllBitsByOffsets(const AesElement& other, const std::vector<int>& offsets)
{
  QV_ASSERT(offsets.size() == 2);
  const int ciThis = getChainIndex();
  const int ciOther = other.getChainIndex();
  const int rows = AesUtils::numBytesInAesRow;
  for (int c = 0; c < rows; ++c)
    for (int r = 0; r < rows; ++r)
      for (int i = 0; i < AesUtils::numBitsInByte; ++i) {
        if (ciThis < ciOther) {
          CTile t(*other.getBit((r + offsets[0]) % rows, c, i));
          AesUtils::bitwiseXor(t, other.getBit((r + offsets[1]) % rows, c, i));
          AesUtils::bitwiseXor(getBit(r, c, i), t);
        } else {
          for (int o : offsets)
            AesUtils::bitwiseXor(getBit(r, c, i), other.getBit((r + o) % rows, c, i));
        }
      }
}

void AesState::mixColumns()
{
  validate(true);
  AesState a(*this);
  const int rows = AesUtils::numBytesInAesRow;
  for (int c = 0; c < rows; ++c)
    shift(false, true, c);
  xorAllBitsByOffsets(a, {2, 3});
  a.multiplyByTwo();
  xorAllBitsByOffsets(a, {0, 1});
  if (!forward) {
    // InvMixColumns adds 4 (s0 ^ s2) to the even rows, 4 (s1 ^ s3) to the
    // odd ones and 8 (s0 ^ s1 ^ s2 ^ s3) to all.
    a.multiplyByTwo();
    std::vector<std::vector<Bit>> u(rows), v(rows);
    for (int c = 0; c < rows; ++c)
      for (int i = 0; i < AesUtils::numBitsInByte; ++i) {
        u[c].push_back(std::make_shared<CTile>(*a.getBit(0, c, i)));
        AesUtils::bitwiseXor(u[c][i], a.getBit(2, c, i));
        v[c].push_back(std::make_shared<CTile>(*a.getBit(1, c, i)));
        AesUtils::bitwiseXor(v[c][i], a.getBit(3, c, i));
      }
    for (int c = 0; c < rows; ++c)
      for (int r = 0; r < rows; ++r)
        for (int i = 0; i < AesUtils::numBitsInByte; ++i)
          AesUtils::bitwiseXor(getBit(r, c, i), r % 2 == 0 ? u[c][i] : v[c][i]);
    a.multiplyByTwo();
    std::vector<std::vector<Bit>> w(rows);
    for (int c = 0; c < rows; ++c)
      for (int i = 0; i < AesUtils::numBitsInByte; ++i) {
        auto sum = std::make_shared<CTile>(*a.getBit(0, c, i));
        CTile t(*a.getBit(1, c, i));
        AesUtils::bitwiseXor(t, a.getBit(2, c, i));
        AesUtils::bitwiseXor(sum, a.getBit(3, c, i));
        AesUtils::bitwiseXor(sum, t);
        w[c].push_back(std::move(sum));
      }
    for (int c = 0; c < rows; ++c)
      for (int r = 0; r < rows; ++r)
        for (int i = 0; i < AesUtils::numBitsInByte; ++i)
          AesUtils::bitwiseXor(getBit(r, c, i), w[c][i]);
  }
  alignChainIndexes();
  printStatus("finished mixColumns");
}

void AesState::reduceNoise()
{
  validate(true);
  CTile three(he);
  Encoder(he).encodeEncrypt(three, 3, getChainIndex());
  for (std::vector<Bit>& byte : tiles)
    for (Bit& x : byte) {
      CTile t(three);
      t.sub(*x);
      t.sub(*x);
      x->square();
      x->multiply(t);
    }
  printStatus("finished reduceNoise");
}

} // namespace quorvane
