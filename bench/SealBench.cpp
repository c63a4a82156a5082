// Times tile operations on a SEAL CKKS context against the same work done by
// calling SEAL's evaluator, encoder, encryptor and decryptor directly.
//
//   quorvane_bench [--slots 8192,16384] [--depth 4] [--reps 30] [--context-reps 0] [--json]
//
// With --context-reps N > 0 it also times the creation of a context with its
// keys, N times (bench/seal_alloc.sh; bench.py does not expect that row).

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <iomanip>
#include <iostream>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <seal/seal.h>

#include "BenchUtils.h"

#include "hebase/CTile.h"
#include "hebase/Encoder.h"
#include "hebase/HeConfigRequirement.h"
#include "hebase/HeContext.h"
#include "hebase/PTile.h"
#include "hebase/seal/SealCkksContext.h"
#include "hebase/seal/SealCkksParams.h"

using namespace quorvane;
using quorvane::bench::elapsedMs;
using quorvane::bench::median;

namespace {

struct Options
{
  std::vector<int> slots{8192, 16384};
  int depth = 4;
  int fractionalBits = 40;
  int integerBits = 10;
  int reps = 30;
  int contextReps = 0;
  bool json = false;
};

struct Result
{
  std::string op;
  int slots;
  double tileMs;
  double sealMs;
};

/// Runs prepare + timed work for the library and for SEAL, alternating which
/// goes first, and returns the two medians.
Result compare(const std::string& op, int slots, int reps,
               const std::function<std::function<void()>()>& tileCase,
               const std::function<std::function<void()>()>& sealCase)
{
  std::vector<double> tileTimes, sealTimes;
  // One untimed round warms caches and the memory pool.
  tileCase()();
  sealCase()();
  for (int r = 0; r < reps; ++r) {
    if (r % 2 == 0) {
      tileTimes.push_back(elapsedMs(tileCase()));
      sealTimes.push_back(elapsedMs(sealCase()));
    } else {
      sealTimes.push_back(elapsedMs(sealCase()));
      tileTimes.push_back(elapsedMs(tileCase()));
    }
  }
  return {op, slots, median(tileTimes), median(sealTimes)};
}

std::vector<int> parseList(const std::string& text)
{
  std::vector<int> res;
  std::stringstream in(text);
  std::string item;
  while (std::getline(in, item, ','))
    res.push_back(std::stoi(item));
  return res;
}

Options parseOptions(int argc, char** argv)
{
  Options options;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc)
        throw std::invalid_argument("missing value after " + arg);
      return argv[++i];
    };
    if (arg == "--slots")
      options.slots = parseList(value());
    else if (arg == "--depth")
      options.depth = std::stoi(value());
    else if (arg == "--reps")
      options.reps = std::stoi(value());
    else if (arg == "--context-reps")
      options.contextReps = std::stoi(value());
    else if (arg == "--json")
      options.json = true;
    else
      throw std::invalid_argument("unknown argument " + arg);
  }
  return options;
}

std::vector<Result> benchSlots(const Options& options, int slots)
{
  HeConfigRequirement req(slots, options.depth, options.fractionalBits, options.integerBits);
  std::shared_ptr<HeContext> context = HeContext::create("SEAL_CKKS", req);
  const auto& he = dynamic_cast<const SealCkksContext&>(*context);
  int top = he.getTopChainIndex();

  // SEAL's objects, as the context holds them.
  const seal::Evaluator& evaluator = he.getEvaluator();
  const seal::Encryptor& encryptor = he.getEncryptor();
  seal::Decryptor& decryptor = he.getDecryptor();
  seal::CKKSEncoder& ckksEncoder = he.getCkksEncoder();
  const seal::RelinKeys& relinKeys = he.getRelinKeys();
  const seal::GaloisKeys& galoisKeys = he.getGaloisKeys();
  seal::parms_id_type topParms = he.getParmsIdForChainIndex(top);
  double scale = Encoder(he).getDefaultScale(top);

  std::mt19937 gen(1);
  std::uniform_real_distribution<double> dist(-1, 1);
  std::vector<double> va(slots), vb(slots);
  for (int i = 0; i < slots; ++i) {
    va[i] = dist(gen);
    vb[i] = dist(gen);
  }

  Encoder encoder(he);
  CTile a(he), b(he);
  PTile p(he);
  encoder.encodeEncrypt(a, va);
  encoder.encodeEncrypt(b, vb);
  encoder.encode(p, vb);

  seal::Plaintext sp, spb;
  seal::Ciphertext sa, sb;
  ckksEncoder.encode(va, topParms, scale, sp);
  encryptor.encrypt(sp, sa);
  ckksEncoder.encode(vb, topParms, scale, spb);
  encryptor.encrypt(spb, sb);

  std::vector<Result> results;
  int reps = options.reps;
  auto tileOp = [&](std::function<void(CTile&)> op) {
    return [&a, op]() -> std::function<void()> {
      auto x = std::make_shared<CTile>(a);
      return [x, op]() { op(*x); };
    };
  };
  auto sealOp = [&](std::function<void(seal::Ciphertext&)> op) {
    return [&sa, op]() -> std::function<void()> {
      auto x = std::make_shared<seal::Ciphertext>(sa);
      return [x, op]() { op(*x); };
    };
  };

  results.push_back(compare(
      "multiply+relin+rescale", slots, reps, tileOp([&](CTile& x) { x.multiply(b); }),
      sealOp([&](seal::Ciphertext& x) {
        evaluator.multiply_inplace(x, sb);
        evaluator.relinearize_inplace(x, relinKeys);
        evaluator.rescale_to_next_inplace(x);
      })));
  results.push_back(compare("rotate by 1", slots, reps, tileOp([](CTile& x) { x.rotate(1); }),
                            sealOp([&](seal::Ciphertext& x) {
                              evaluator.rotate_vector_inplace(x, 1, galoisKeys);
                            })));
  results.push_back(compare("add", slots, reps, tileOp([&](CTile& x) { x.add(b); }),
                            sealOp([&](seal::Ciphertext& x) { evaluator.add_inplace(x, sb); })));
  results.push_back(compare("multiply plain+rescale", slots, reps,
                            tileOp([&](CTile& x) { x.multiplyPlain(p); }),
                            sealOp([&](seal::Ciphertext& x) {
                              evaluator.multiply_plain_inplace(x, spb);
                              evaluator.rescale_to_next_inplace(x);
                            })));
  results.push_back(compare(
      "encode+encrypt", slots, reps,
      [&]() -> std::function<void()> {
        return [&]() { encoder.encodeEncrypt(a, va); };
      },
      [&]() -> std::function<void()> {
        return [&]() {
          seal::Plaintext plain;
          ckksEncoder.encode(va, topParms, scale, plain);
          encryptor.encrypt(plain, sa);
        };
      }));
  std::vector<double> sink;
  results.push_back(compare(
      "decrypt+decode", slots, reps,
      [&]() -> std::function<void()> {
        return [&]() { sink = encoder.decryptDecodeDouble(a); };
      },
      [&]() -> std::function<void()> {
        return [&]() {
          seal::Plaintext plain;
          decryptor.decrypt(sa, plain);
          ckksEncoder.decode(plain, sink);
        };
      }));
  if (options.contextReps <= 0)
    return results;
  // The library's context against SEAL's context and the same keys (public,
  // relinearisation and Galois keys of the default rotations and conjugation).
  seal::EncryptionParameters parms = he.getEncryptionParams();
  seal::sec_level_type level = he.getSecurityLevel() == 0 ? seal::sec_level_type::none
                                                          : seal::sec_level_type::tc128;
  std::vector<int> steps = SealCkksParams::getDefaultRotationSteps(slots);
  steps.push_back(0);
  results.push_back(compare(
      "context creation", slots, options.contextReps,
      [&]() -> std::function<void()> {
        return [&]() { HeContext::create("SEAL_CKKS", req); };
      },
      [&]() -> std::function<void()> {
        return [&]() {
          seal::SEALContext sealContext(parms, true, level);
          seal::KeyGenerator keygen(sealContext);
          seal::PublicKey publicKey;
          seal::RelinKeys relinKeys;
          seal::GaloisKeys galoisKeys;
          keygen.create_public_key(publicKey);
          keygen.create_relin_keys(relinKeys);
          keygen.create_galois_keys(steps, galoisKeys);
        };
      }));
  return results;
}

} // namespace

int main(int argc, char** argv)
{
  try {
    Options options = parseOptions(argc, argv);
    std::vector<Result> all;
    for (int slots : options.slots) {
      if (!options.json)
        std::cerr << "benchmarking " << slots << " slots, depth " << options.depth << ", "
                  << options.reps << " repetitions..." << std::endl;
      std::vector<Result> results = benchSlots(options, slots);
      all.insert(all.end(), results.begin(), results.end());
    }
    if (options.json) {
      std::cout << "[";
      for (size_t i = 0; i < all.size(); ++i)
        std::cout << (i ? ",\n " : "") << "{\"op\": \"" << all[i].op
                  << "\", \"slots\": " << all[i].slots << std::setprecision(9)
                  << ", \"tile_ms\": " << all[i].tileMs << ", \"seal_ms\": " << all[i].sealMs
                  << "}";
      std::cout << "]" << std::endl;
      return 0;
    }
    std::cout << std::left << std::setw(26) << "operation" << std::right << std::setw(7)
              << "slots" << std::setw(14) << "CTile ms" << std::setw(14) << "SEAL ms"
              << std::setw(10) << "ratio" << std::endl;
    for (const Result& r : all)
      std::cout << std::left << std::setw(26) << r.op << std::right << std::setw(7) << r.slots
                << std::fixed << std::setprecision(4) << std::setw(14) << r.tileMs
                << std::setw(14) << r.sealMs << std::setprecision(3) << std::setw(10)
                << r.tileMs / r.sealMs << std::endl;
  } catch (const std::exception& e) {
    std::cerr << "quorvane_bench: " << e.what() << std::endl;
    return 1;
  }
  return 0;
}
