// Times function evaluation on one tile of a SEAL CKKS context (8192 slots
// holding a 64x64 matrix) and measures its largest error: a degree-15
// polynomial by each evaluation type and the three sigmoid approximations.
// Beside each polynomial, the same polynomial evaluated by calling SEAL
// directly (powers by products of powers of two, one plaintext product per
// term, scales forced to the default), interleaved with the library's runs.
// Then the same polynomial and sigmoids on the 64x64 matrix as a tile tensor
// (TTFunctionEvaluator), whose free coefficient goes to the used slots only.
//
//   quorvane_function_bench [--reps 5]

#include <algorithm>
#include <chrono>
#include <cmath>
#include <functional>
#include <iomanip>
#include <iostream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <seal/seal.h>

#include "BenchUtils.h"

#include "hebase/CTile.h"
#include "hebase/Encoder.h"
#include "hebase/HeConfigRequirement.h"
#include "hebase/HeContext.h"
#include "hebase/seal/SealCkksContext.h"
#include "math/CTileTensor.h"
#include "math/DoubleTensor.h"
#include "math/FunctionEvaluator.h"
#include "math/MathUtils.h"
#include "math/SigmoidCoefficients.h"
#include "math/TTEncoder.h"
#include "math/TTFunctionEvaluator.h"
#include "math/TTShape.h"

using namespace quorvane;
using quorvane::bench::elapsedMs;
using quorvane::bench::median;

namespace {

const int SLOTS = 8192;
const int MATRIX = 64 * 64;
const int DEPTH = 8;

double polyval(const std::vector<double>& coefs, double x)
{
  double res = 0;
  for (size_t i = coefs.size(); i-- > 0;)
    res = res * x + coefs[i];
  return res;
}

double maxError(const std::vector<double>& actual, const std::vector<double>& expected)
{
  double res = 0;
  for (size_t i = 0; i < expected.size(); ++i)
    res = std::max(res, std::abs(actual[i] - expected[i]));
  return res;
}

/// A polynomial evaluated by calling SEAL's evaluator directly.
class DirectSealPolynomial
{
public:
  explicit DirectSealPolynomial(const SealCkksContext& he)
      : he(he), evaluator(he.getEvaluator()), encoder(he.getCkksEncoder()),
        scale(Encoder(he).getDefaultScale(he.getTopChainIndex()))
  {
  }

  seal::Ciphertext evaluate(const seal::Ciphertext& x, const std::vector<double>& coefs) const
  {
    int n = static_cast<int>(coefs.size()) - 1;
    std::vector<seal::Ciphertext> powers(n + 1);
    powers[1] = x;
    for (int i = 2; i <= n; ++i) {
      int p = static_cast<int>(MathUtils::roundDownToPowerOf2(i - 1));
      seal::Ciphertext a = powers[p];
      seal::Ciphertext b = powers[i - p];
      align(a, b);
      evaluator.multiply_inplace(a, b);
      evaluator.relinearize_inplace(a, he.getRelinKeys());
      evaluator.rescale_to_next_inplace(a);
      a.scale() = scale;
      powers[i] = a;
    }
    std::vector<seal::Ciphertext> terms;
    for (int i = 1; i <= n; ++i) {
      if (coefs[i] == 0)
        continue;
      seal::Plaintext c;
      encoder.encode(coefs[i], powers[i].parms_id(), scale, c);
      seal::Ciphertext t = powers[i];
      evaluator.multiply_plain_inplace(t, c);
      evaluator.rescale_to_next_inplace(t);
      t.scale() = scale;
      terms.push_back(t);
    }
    seal::Ciphertext res = terms[0];
    for (size_t i = 1; i < terms.size(); ++i) {
      seal::Ciphertext t = terms[i];
      align(res, t);
      evaluator.add_inplace(res, t);
    }
    seal::Plaintext c0;
    encoder.encode(coefs[0], res.parms_id(), res.scale(), c0);
    evaluator.add_plain_inplace(res, c0);
    return res;
  }

private:
  /// Lowers the operand at the higher level to the other's.
  void align(seal::Ciphertext& a, seal::Ciphertext& b) const
  {
    const seal::SEALContext& context = he.getSealContext();
    size_t la = context.get_context_data(a.parms_id())->chain_index();
    size_t lb = context.get_context_data(b.parms_id())->chain_index();
    if (la > lb)
      evaluator.mod_switch_to_inplace(a, b.parms_id());
    else if (lb > la)
      evaluator.mod_switch_to_inplace(b, a.parms_id());
  }

  const SealCkksContext& he;
  const seal::Evaluator& evaluator;
  seal::CKKSEncoder& encoder;
  double scale;
};

struct Row
{
  std::string name;
  int depth;
  double libraryMs;
  double libraryError;
  double sealMs;
  double sealError;
};

void print(const std::vector<Row>& rows)
{
  std::cout << std::left << std::setw(44) << "evaluation" << std::right << std::setw(6)
            << "depth" << std::setw(12) << "library ms" << std::setw(12) << "max error"
            << std::setw(12) << "SEAL ms" << std::setw(12) << "max error" << std::setw(8)
            << "ratio" << std::endl;
  for (const Row& r : rows) {
    std::cout << std::left << std::setw(44) << r.name << std::right << std::setw(6) << r.depth
              << std::fixed << std::setprecision(2) << std::setw(12) << r.libraryMs
              << std::scientific << std::setprecision(2) << std::setw(12) << r.libraryError;
    if (r.sealMs > 0)
      std::cout << std::fixed << std::setw(12) << r.sealMs << std::scientific << std::setw(12)
                << r.sealError << std::fixed << std::setprecision(3) << std::setw(8)
                << r.libraryMs / r.sealMs;
    std::cout << std::defaultfloat << std::endl;
  }
}

} // namespace

int main(int argc, char** argv)
{
  try {
    int reps = 5;
    for (int i = 1; i < argc; ++i) {
      std::string arg = argv[i];
      if (arg == "--reps" && i + 1 < argc)
        reps = std::stoi(argv[++i]);
      else
        throw std::invalid_argument("unknown argument " + arg);
    }
    std::cerr << "benchmarking " << SLOTS << " slots, depth " << DEPTH << ", " << reps
              << " repetitions..." << std::endl;
    std::shared_ptr<HeContext> context =
        HeContext::create("SEAL_CKKS", HeConfigRequirement(SLOTS, DEPTH, 40, 10));
    const auto& he = dynamic_cast<const SealCkksContext&>(*context);
    Encoder encoder(he);
    FunctionEvaluator fe(he);
    DirectSealPolynomial direct(he);

    std::mt19937 gen(15);
    std::uniform_real_distribution<double> unit(-1, 1);
    std::vector<double> x(MATRIX), y(MATRIX);
    for (int i = 0; i < MATRIX; ++i) {
      x[i] = unit(gen);
      y[i] = 8 * unit(gen);
    }
    std::vector<double> coefs(16);
    for (double& c : coefs)
      c = unit(gen);
    CTile cx(he), cy(he);
    encoder.encodeEncrypt(cx, x);
    encoder.encodeEncrypt(cy, y);
    std::vector<double> expected(MATRIX);
    for (int i = 0; i < MATRIX; ++i)
      expected[i] = polyval(coefs, x[i]);

    std::vector<Row> rows;
    const std::vector<std::pair<EvalType, std::string>> types = {
        {PATERSONSTOCKMAYER, "PATERSONSTOCKMAYER"},
        {EFFICIENT_POWERS, "EFFICIENT_POWERS"},
        {MIN_DEPTH, "MIN_DEPTH"},
        {NUMERICAL_STABILITY, "NUMERICAL_STABILITY"}};
    seal::Plaintext sealPlain;
    seal::Ciphertext sealX;
    he.getCkksEncoder().encode(x, he.getParmsIdForChainIndex(he.getTopChainIndex()),
                               encoder.getDefaultScale(he.getTopChainIndex()), sealPlain);
    he.getEncryptor().encrypt(sealPlain, sealX);
    for (const auto& [type, name] : types) {
      std::vector<double> libraryTimes, sealTimes;
      CTile res(he);
      seal::Ciphertext sealRes;
      for (int r = 0; r < reps; ++r) {
        auto library = [&] {
          res = cx;
          fe.polyEvalInPlace(res, coefs, type);
        };
        auto seal = [&] { sealRes = direct.evaluate(sealX, coefs); };
        if (r % 2 == 0) {
          libraryTimes.push_back(elapsedMs(library));
          sealTimes.push_back(elapsedMs(seal));
        } else {
          sealTimes.push_back(elapsedMs(seal));
          libraryTimes.push_back(elapsedMs(library));
        }
      }
      seal::Plaintext decrypted;
      std::vector<double> sealValues;
      he.getDecryptor().decrypt(sealRes, decrypted);
      he.getCkksEncoder().decode(decrypted, sealValues);
      rows.push_back({"degree 15, " + name, he.getTopChainIndex() - res.getChainIndex(),
                      median(libraryTimes), maxError(encoder.decryptDecodeDouble(res), expected),
                      median(sealTimes), maxError(sealValues, expected)});
    }

    const std::vector<std::tuple<std::string, const std::vector<double>*, double>> sigmoids = {
        {"sigmoid order 3 on [-8, 8]", &SIGMOID_ORDER3_COEFS, SIGMOID_ORDER3_INPUT_SCALE},
        {"sigmoid order 7 on [-8, 8]", &SIGMOID_ORDER7_COEFS, SIGMOID_ORDER7_INPUT_SCALE},
        {"sigmoid order 9 on [-8, 8]", &SIGMOID_ORDER9_COEFS, SIGMOID_ORDER9_INPUT_SCALE}};
    std::vector<double> exactSigmoid(MATRIX);
    for (int i = 0; i < MATRIX; ++i)
      exactSigmoid[i] = 1 / (1 + std::exp(-y[i]));
    for (const auto& [name, table, inputScale] : sigmoids) {
      std::vector<double> times;
      CTile res(he);
      for (int r = 0; r < reps; ++r)
        times.push_back(elapsedMs([&] {
          res = cy;
          res.multiplyScalar(inputScale);
          fe.polyEvalInPlace(res, *table, MIN_DEPTH);
        }));
      rows.push_back({name, he.getTopChainIndex() - res.getChainIndex(), median(times),
                      maxError(encoder.decryptDecodeDouble(res), exactSigmoid), 0, 0});
    }

    // The matrix as a tile tensor of one 64x128 tile.
    TTEncoder ttEncoder(he);
    TTFunctionEvaluator tfe(he);
    const TTShape shape({64, 128});
    DoubleTensor mx({64, 64}), my({64, 64});
    for (int i = 0; i < MATRIX; ++i) {
      mx.at(i) = x[i];
      my.at(i) = y[i];
    }
    CTileTensor tx(he), ty(he);
    ttEncoder.encodeEncrypt(tx, shape, mx);
    ttEncoder.encodeEncrypt(ty, shape, my);
    auto tensorError = [&](const CTileTensor& t, const std::vector<double>& exact) {
      DoubleTensor values = ttEncoder.decryptDecodeDouble(t);
      std::vector<double> flat(MATRIX);
      for (int i = 0; i < MATRIX; ++i)
        flat[i] = values.at(i);
      return maxError(flat, exact);
    };
    for (const auto& [type, name] : types) {
      std::vector<double> times;
      CTileTensor res(he);
      for (int r = 0; r < reps; ++r)
        times.push_back(elapsedMs([&] {
          res = tx;
          tfe.polyEvalInPlace(res, coefs, type);
        }));
      rows.push_back({"tensor 64x64, degree 15, " + name,
                      he.getTopChainIndex() - res.getChainIndex(), median(times),
                      tensorError(res, expected), 0, 0});
    }
    const std::vector<std::pair<std::string, void (TTFunctionEvaluator::*)(CTileTensor&) const>>
        tensorSigmoids = {{"tensor 64x64, sigmoid3InPlace", &TTFunctionEvaluator::sigmoid3InPlace},
                          {"tensor 64x64, sigmoid7InPlace", &TTFunctionEvaluator::sigmoid7InPlace},
                          {"tensor 64x64, sigmoid9InPlace", &TTFunctionEvaluator::sigmoid9InPlace}};
    for (const auto& [name, op] : tensorSigmoids) {
      std::vector<double> times;
      CTileTensor res(he);
      for (int r = 0; r < reps; ++r)
        times.push_back(elapsedMs([&] {
          res = ty;
          (tfe.*op)(res);
        }));
      rows.push_back({name, he.getTopChainIndex() - res.getChainIndex(), median(times),
                      tensorError(res, exactSigmoid), 0, 0});
    }
    print(rows);
  } catch (const std::exception& e) {
    std::cerr << "quorvane_function_bench: " << e.what() << std::endl;
    return 1;
  }
  return 0;
}
