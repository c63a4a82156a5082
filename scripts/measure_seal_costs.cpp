// Measures the cost of SEAL's CKKS operations on this machine and writes them
// as JSON (microseconds, median of several runs) to standard output.
// Built and run by scripts/measure_seal_costs.sh.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <functional>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include <seal/seal.h>

namespace {

struct Config
{
  int slots;
  int depth;
  int fractionalBits;
  int integerBits;
};

int64_t medianMicros(int repeats, const std::function<void()>& operation)
{
  std::vector<int64_t> times;
  for (int i = 0; i < repeats; i++) {
    auto start = std::chrono::steady_clock::now();
    operation();
    auto end = std::chrono::steady_clock::now();
    times.push_back(std::chrono::duration_cast<std::chrono::microseconds>(end - start).count());
  }
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

void measure(const Config& config, int repeats, bool last)
{
  size_t degree = static_cast<size_t>(config.slots) * 2;
  std::vector<int> bits;
  bits.push_back(config.fractionalBits + config.integerBits);
  for (int i = 0; i < config.depth; i++)
    bits.push_back(config.fractionalBits);
  bits.push_back(config.fractionalBits + config.integerBits);

  seal::EncryptionParameters parms(seal::scheme_type::ckks);
  parms.set_poly_modulus_degree(degree);
  parms.set_coeff_modulus(seal::CoeffModulus::Create(degree, bits));
  seal::SEALContext context(parms, true, seal::sec_level_type::tc128);

  seal::KeyGenerator keygen(context);
  seal::PublicKey publicKey;
  seal::RelinKeys relinKeys;
  seal::GaloisKeys galoisKeys;
  int64_t keygenPublic = medianMicros(1, [&] { keygen.create_public_key(publicKey); });
  int64_t keygenRelin = medianMicros(1, [&] { keygen.create_relin_keys(relinKeys); });
  int64_t keygenRotation =
      medianMicros(1, [&] { keygen.create_galois_keys(std::vector<int>{1}, galoisKeys); });

  seal::Encryptor encryptor(context, publicKey);
  seal::Evaluator evaluator(context);
  seal::Decryptor decryptor(context, keygen.secret_key());
  seal::CKKSEncoder encoder(context);

  double scale = std::pow(2.0, config.fractionalBits);
  std::vector<double> values(static_cast<size_t>(config.slots));
  for (size_t i = 0; i < values.size(); i++)
    values[i] = static_cast<double>(i % 17) / 17.0;

  seal::Plaintext plain;
  seal::Ciphertext a, b, c;
  encoder.encode(values, scale, plain);
  encryptor.encrypt(plain, a);
  encryptor.encrypt(plain, b);

  int64_t encode = medianMicros(repeats, [&] { encoder.encode(values, scale, plain); });
  int64_t encrypt = medianMicros(repeats, [&] { encryptor.encrypt(plain, c); });
  int64_t add = medianMicros(repeats, [&] { evaluator.add(a, b, c); });
  int64_t multiplyPlain = medianMicros(repeats, [&] { evaluator.multiply_plain(a, plain, c); });
  int64_t multiply = medianMicros(repeats, [&] { evaluator.multiply(a, b, c); });
  seal::Ciphertext product = c;
  int64_t relinearize = medianMicros(repeats, [&] {
    c = product;
    evaluator.relinearize_inplace(c, relinKeys);
  });
  seal::Ciphertext relinearized = c;
  int64_t rescale = medianMicros(repeats, [&] { evaluator.rescale_to_next(relinearized, c); });
  int64_t rotate = medianMicros(repeats, [&] { evaluator.rotate_vector(a, 1, galoisKeys, c); });
  int64_t decrypt = medianMicros(repeats, [&] { decryptor.decrypt(a, plain); });
  std::vector<double> decoded;
  int64_t decode = medianMicros(repeats, [&] { encoder.decode(plain, decoded); });

  std::cout << "  \"slots_" << config.slots << "\": {\n"
            << "    \"poly_degree\": " << degree << ",\n"
            << "    \"multiplication_depth\": " << config.depth << ",\n"
            << "    \"fractional_bits\": " << config.fractionalBits << ",\n"
            << "    \"integer_bits\": " << config.integerBits << ",\n"
            << "    \"keygen_public_us\": " << keygenPublic << ",\n"
            << "    \"keygen_relin_us\": " << keygenRelin << ",\n"
            << "    \"keygen_one_rotation_us\": " << keygenRotation << ",\n"
            << "    \"encode_us\": " << encode << ",\n"
            << "    \"encrypt_us\": " << encrypt << ",\n"
            << "    \"add_us\": " << add << ",\n"
            << "    \"multiply_plain_us\": " << multiplyPlain << ",\n"
            << "    \"multiply_raw_us\": " << multiply << ",\n"
            << "    \"relinearize_us\": " << relinearize << ",\n"
            << "    \"rescale_us\": " << rescale << ",\n"
            << "    \"rotate_us\": " << rotate << ",\n"
            << "    \"decrypt_us\": " << decrypt << ",\n"
            << "    \"decode_us\": " << decode << "\n"
            << "  }" << (last ? "" : ",") << "\n";
}

} // namespace

int main()
{
  // Parameter sets feasible at security level 128.
  const std::vector<Config> configs = {
      {2048, 1, 25, 10}, {4096, 4, 30, 10}, {8192, 8, 40, 10}, {16384, 18, 40, 10}};
  const int repeats = 15;
  std::cout << "{\n"
            << "  \"description\": \"Costs of SEAL " << SEAL_VERSION
            << " CKKS operations in microseconds (median of " << repeats
            << " runs, one thread), measured by scripts/measure_seal_costs.sh\",\n"
            << "  \"hardware_threads\": " << std::thread::hardware_concurrency() << ",\n";
  for (size_t i = 0; i < configs.size(); i++)
    measure(configs[i], repeats, i + 1 == configs.size());
  std::cout << "}\n";
  return 0;
}
