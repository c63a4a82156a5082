#ifndef QUORVANE_TESTS_CPP_AESREFERENCE_H
#define QUORVANE_TESTS_CPP_AESREFERENCE_H

// The tests' reference AES: OpenSSL's libcrypto, called through its EVP
// interface, and byte-string helpers.

#include <openssl/evp.h>

#include <cstdint>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace qvtest {

using ByteVector = std::vector<uint8_t>;
using Blocks = std::vector<ByteVector>;

/// The bytes written in hexadecimal (blanks ignored).
inline ByteVector hexBytes(const std::string& hex)
{
  std::string digits;
  for (char c : hex)
    if (c != ' ')
      digits.push_back(c);
  if (digits.size() % 2 != 0)
    throw std::invalid_argument("odd number of hexadecimal digits: " + hex);
  ByteVector res;
  for (size_t i = 0; i < digits.size(); i += 2)
    res.push_back(static_cast<uint8_t>(std::stoi(digits.substr(i, 2), nullptr, 16)));
  return res;
}

/// Random bytes of a fixed seed.
inline ByteVector randomBytes(unsigned seed, size_t count)
{
  std::mt19937 gen(seed);
  std::uniform_int_distribution<int> dist(0, 255);
  ByteVector res(count);
  for (uint8_t& b : res)
    b = static_cast<uint8_t>(dist(gen));
  return res;
}

/// Random 16-byte blocks of a fixed seed.
inline Blocks randomBlocks(unsigned seed, size_t count)
{
  Blocks res;
  for (size_t i = 0; i < count; ++i)
    res.push_back(randomBytes(seed * 1000 + static_cast<unsigned>(i), 16));
  return res;
}

namespace detail {

inline const EVP_CIPHER* cipherOf(size_t keyBytes, bool ctr)
{
  switch (keyBytes) {
  case 16:
    return ctr ? EVP_aes_128_ctr() : EVP_aes_128_ecb();
  case 24:
    return ctr ? EVP_aes_192_ctr() : EVP_aes_192_ecb();
  case 32:
    return ctr ? EVP_aes_256_ctr() : EVP_aes_256_ecb();
  default:
    throw std::invalid_argument("reference AES: unsupported key length");
  }
}

inline ByteVector evpEncrypt(const EVP_CIPHER* cipher, const ByteVector& key,
                             const ByteVector* iv, const ByteVector& data)
{
  std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx(EVP_CIPHER_CTX_new(),
                                                                      &EVP_CIPHER_CTX_free);
  if (!ctx || EVP_EncryptInit_ex(ctx.get(), cipher, nullptr, key.data(),
                                 iv ? iv->data() : nullptr) != 1)
    throw std::runtime_error("reference AES: initialisation failed");
  EVP_CIPHER_CTX_set_padding(ctx.get(), 0);
  ByteVector res(data.size() + 16);
  int written = 0;
  int last = 0;
  if (EVP_EncryptUpdate(ctx.get(), res.data(), &written, data.data(),
                        static_cast<int>(data.size())) != 1 ||
      EVP_EncryptFinal_ex(ctx.get(), res.data() + written, &last) != 1)
    throw std::runtime_error("reference AES: encryption failed");
  res.resize(static_cast<size_t>(written + last));
  return res;
}

inline ByteVector concat(const Blocks& blocks)
{
  ByteVector res;
  for (const ByteVector& b : blocks)
    res.insert(res.end(), b.begin(), b.end());
  return res;
}

inline Blocks split(const ByteVector& bytes)
{
  Blocks res;
  for (size_t i = 0; i < bytes.size(); i += 16)
    res.emplace_back(bytes.begin() + i, bytes.begin() + i + 16);
  return res;
}

} // namespace detail

/// AES encryption of one 16-byte block (the block cipher alone).
inline ByteVector referenceAesBlock(const ByteVector& key, const ByteVector& block)
{
  return detail::evpEncrypt(detail::cipherOf(key.size(), false), key, nullptr, block);
}

/// AES in counter mode (the counter is the whole 16-byte block, big-endian).
inline Blocks referenceAesCtr(const ByteVector& key, const ByteVector& iv, const Blocks& blocks)
{
  return detail::split(
      detail::evpEncrypt(detail::cipherOf(key.size(), true), key, &iv, detail::concat(blocks)));
}

} // namespace qvtest

#endif
