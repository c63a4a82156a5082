// Python module of the benchmark: SEAL called directly, with the parameters
// and keys that a SEAL CKKS context of the library makes for the same
// requirement, so that Python can time both in one process. Each method runs
// one operation on fresh copies and returns the milliseconds of the SEAL calls.

#include <chrono>
#include <cmath>
#include <memory>
#include <random>
#include <vector>

#include <pybind11/pybind11.h>
#include <seal/seal.h>

namespace py = pybind11;

namespace {

class SealBaseline
{
public:
  SealBaseline(int slots, int depth, int fractionalBits, int integerBits, int securityLevel)
  {
    size_t degree = 2 * static_cast<size_t>(slots);
    std::vector<int> bits{fractionalBits + integerBits};
    for (int i = 0; i < depth; ++i)
      bits.push_back(fractionalBits);
    bits.push_back(fractionalBits + integerBits);
    seal::EncryptionParameters parms(seal::scheme_type::ckks);
    parms.set_poly_modulus_degree(degree);
    parms.set_coeff_modulus(seal::CoeffModulus::Create(degree, bits));
    seal::sec_level_type level = securityLevel == 0 ? seal::sec_level_type::none
                                                    : seal::sec_level_type::tc128;
    context = std::make_unique<seal::SEALContext>(parms, true, level);
    seal::KeyGenerator keygen(*context);
    keygen.create_public_key(publicKey);
    keygen.create_relin_keys(relinKeys);
    // The library's default rotations: powers of two both ways, and conjugation.
    std::vector<int> steps{0};
    for (int s = 1; s < slots; s *= 2) {
      steps.push_back(s);
      steps.push_back(-s);
    }
    keygen.create_galois_keys(steps, galoisKeys);
    encryptor = std::make_unique<seal::Encryptor>(*context, publicKey);
    decryptor = std::make_unique<seal::Decryptor>(*context, keygen.secret_key());
    evaluator = std::make_unique<seal::Evaluator>(*context);
    encoder = std::make_unique<seal::CKKSEncoder>(*context);
    scale = std::ldexp(1.0, fractionalBits);

    std::mt19937 gen(1);
    std::uniform_real_distribution<double> dist(-1, 1);
    values.resize(slots);
    std::vector<double> other(slots);
    for (int i = 0; i < slots; ++i) {
      values[i] = dist(gen);
      other[i] = dist(gen);
    }
    encoder->encode(values, scale, plainA);
    encryptor->encrypt(plainA, a);
    encoder->encode(other, scale, plainB);
    encryptor->encrypt(plainB, b);
  }

  double multiply()
  {
    return timeOn([this](seal::Ciphertext& x) {
      evaluator->multiply_inplace(x, b);
      evaluator->relinearize_inplace(x, relinKeys);
      evaluator->rescale_to_next_inplace(x);
    });
  }

  double rotate()
  {
    return timeOn([this](seal::Ciphertext& x) { evaluator->rotate_vector_inplace(x, 1, galoisKeys); });
  }

  double add()
  {
    return timeOn([this](seal::Ciphertext& x) { evaluator->add_inplace(x, b); });
  }

  double multiplyPlain()
  {
    return timeOn([this](seal::Ciphertext& x) {
      evaluator->multiply_plain_inplace(x, plainB);
      evaluator->rescale_to_next_inplace(x);
    });
  }

  double encodeEncrypt()
  {
    auto start = std::chrono::steady_clock::now();
    seal::Plaintext plain;
    encoder->encode(values, scale, plain);
    encryptor->encrypt(plain, a);
    return since(start);
  }

  double decryptDecode()
  {
    auto start = std::chrono::steady_clock::now();
    seal::Plaintext plain;
    decryptor->decrypt(a, plain);
    std::vector<double> out;
    encoder->decode(plain, out);
    return since(start);
  }

private:
  std::unique_ptr<seal::SEALContext> context;
  seal::PublicKey publicKey;
  seal::RelinKeys relinKeys;
  seal::GaloisKeys galoisKeys;
  std::unique_ptr<seal::Encryptor> encryptor;
  std::unique_ptr<seal::Decryptor> decryptor;
  std::unique_ptr<seal::Evaluator> evaluator;
  std::unique_ptr<seal::CKKSEncoder> encoder;
  double scale = 1;
  std::vector<double> values;
  seal::Plaintext plainA, plainB;
  seal::Ciphertext a, b;

  static double since(std::chrono::steady_clock::time_point start)
  {
    auto end = std::chrono::steady_clock::now();
    return std::chrono::duration<double, std::milli>(end - start).count();
  }

  template <typename F>
  double timeOn(F&& op)
  {
    seal::Ciphertext x = a;
    auto start = std::chrono::steady_clock::now();
    op(x);
    return since(start);
  }
};

} // namespace

PYBIND11_MODULE(quorvane_seal_baseline, m)
{
  m.doc() = "SEAL called directly, for the benchmark of the library's tiles.";
  py::class_<SealBaseline>(m, "SealBaseline")
      .def(py::init<int, int, int, int, int>(), py::arg("slots"), py::arg("depth"),
           py::arg("fractional_bits"), py::arg("integer_bits"), py::arg("security_level"))
      .def("multiply", &SealBaseline::multiply, "multiply, relinearize and rescale; ms")
      .def("rotate", &SealBaseline::rotate, "rotate by 1; ms")
      .def("add", &SealBaseline::add, "add; ms")
      .def("multiply_plain", &SealBaseline::multiplyPlain, "multiply by a plaintext and rescale; ms")
      .def("encode_encrypt", &SealBaseline::encodeEncrypt, "encode and encrypt; ms")
      .def("decrypt_decode", &SealBaseline::decryptDecode, "decrypt and decode; ms");
}
