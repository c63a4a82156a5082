// Times CoeffToSlot, the modular reduction and SlotToCoeff of the SEAL
// bootstrap core (the steps of bootstrapMockup) on what a bootstrap meets:
// fixed random inputs in [-1, 1] encrypted at chain index 0 and raised to the
// encoding chain index (each coefficient's centred representative modulo q0,
// outside the timing), so that the coefficients carry multiples of q0. The
// core is built from a cold cache (layers computed and stored) and from a
// warm one (layers loaded); the precision is measured against the inputs.
//
//   quorvane_bootstrap_bench --slots 4096 [--depth 17] [--frac 56] [--int 4]
//
// The last line is: bootstrap slots=<n> precision_bits=<bits of the mean
// error> max_error=<largest error> seconds=<whole pipeline, warm cache>

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <complex>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <seal/context.h>
#include <seal/util/ntt.h>

#include "hebase/CTile.h"
#include "hebase/Encoder.h"
#include "hebase/HeConfigRequirement.h"
#include "hebase/seal/SealCkksContext.h"
#include "hebase/utils/SectionTimer.h"
#include "math/bootstrap/seal/BootstrapCore.h"
#include "math/bootstrap/seal/Chebyshev.h"
#include "math/bootstrap/seal/ChebyshevEvaluator.h"
#include "SealModulusRaise.h"

using namespace quorvane;

namespace {

using Complex = std::complex<double>;

struct Options
{
  int slots = 4096;
  int depth = 17;
  // Primes of 56 bits; the first (and the special one) of 60. The reduction's
  // error grows with q0 over the scale, 2^4 here.
  int fractionalBits = 56;
  int integerBits = 4;
};

struct Clock
{
  int64_t wall = SectionTimer::wallTimeNow();
  int64_t cpu = SectionTimer::cpuTimeNow();
  double wallSeconds() const { return (SectionTimer::wallTimeNow() - wall) * 1e-9; }
  double cpuSeconds() const { return (SectionTimer::cpuTimeNow() - cpu) * 1e-9; }
};

struct StageTimes
{
  double setup = 0;
  double coef2slot = 0;
  double mod = 0;
  double slot2coef = 0;
  double cpu = 0;
  double pipeline() const { return coef2slot + mod + slot2coef; }
};

int peakMemoryMb()
{
  struct rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<int>(usage.ru_maxrss / 1024);
}

std::string loadAverage()
{
  std::ifstream in("/proc/loadavg");
  std::string first;
  in >> first;
  return first.empty() ? "unknown" : first;
}

// One forward NTT of the context's degree modulo its first prime, in
// microseconds: how fast this machine runs SEAL's main kernel right now.
double nttMicros(const SealCkksContext& he)
{
  auto data = he.getSealContext().key_context_data();
  std::vector<uint64_t> poly(data->parms().poly_modulus_degree(), 12345);
  const int reps = 200;
  Clock clock;
  for (int i = 0; i < reps; ++i)
    seal::util::ntt_negacyclic_harvey(seal::util::CoeffIter(poly.data()),
                                      data->small_ntt_tables()[0]);
  return clock.wallSeconds() / reps * 1e6;
}

// The modular reduction and SlotToCoeff of real data in clear doubles, on the
// coefficients of a raised input over q0 (t = k + m / q0): the cos and sin
// rows of the Chebyshev tables at y = 2 t / R, raised to the power R, twice
// the imaginary part times q0 / (4 pi scale), then the slots of the real
// polynomial of the first n results. Returns the mean error against values.
double modelledMeanError(const BootstrapCore& core, const std::vector<double>& t, double ratio,
                         int power, int row, const std::vector<Complex>& values)
{
  Chebyshev tables(13, 50);
  const std::vector<double> cosRow = tables.getCosCoefficients(row);
  const std::vector<double> sinRow = tables.getSinCoefficients(row);
  auto chebyshev = [](const std::vector<double>& c, double y) {
    double b1 = 0;
    double b2 = 0;
    for (size_t j = c.size(); j-- > 1;) {
      double b = 2 * y * b1 - b2 + c[j];
      b2 = b1;
      b1 = b;
    }
    return y * b1 - b2 + c[0];
  };
  const int n = core.getNumSlots();
  std::vector<double> reduced(n);
  for (int k = 0; k < n; ++k) {
    double y = 2 * t[k] / power;
    Complex base(chebyshev(cosRow, y), chebyshev(sinRow, y));
    Complex p(1, 0);
    for (int d = power; d > 0; d /= 2, base *= base)
      if (d % 2 == 1)
        p *= base;
    reduced[k] = ratio / (4 * M_PI) * 2 * p.imag();
  }
  double mean = 0;
  for (int r = 0; r < n; ++r) {
    double z = reduced[0];
    for (int k = 1; k < n; ++k)
      z += reduced[k] * 2 * core.getRoot(r, k).real();
    mean += std::abs(z - values[r].real()) / n;
  }
  return mean;
}

void printModel(const BootstrapCore& core, const CTile& raised, const std::vector<Complex>& values)
{
  const std::vector<double> t = qvtest::coefficientsOverFirstPrime(raised);
  const HeContext& he = core.getHeContext();
  const double ratio = static_cast<double>(he.getModulusChain()->at(0)) / core.getBaseScale();
  Chebyshev tables(13, 50);
  const int budget = 7 + BootstrapCore::CHEBYSHEV_LEVEL_BUDGET;
  std::cout << "  the reduction and SlotToCoeff of this input modelled in clear doubles (R, "
               "Chebyshev row: chain indexes of the reduction, of "
            << budget << " budgeted; multiples covered; mean error):" << std::endl;
  for (auto [power, row] : {std::pair<int, int>{72, 14}, {72, 18}, {128, 14}, {128, 18},
                            {256, 14}, {256, 18}, {256, 22}}) {
    int levels = static_cast<int>(std::ceil(std::log2(power))) +
                 std::max(ChebyshevEvaluator::getNumLevels(tables.getCosCoefficients(row)),
                          ChebyshevEvaluator::getNumLevels(tables.getSinCoefficients(row)));
    double mean = modelledMeanError(core, t, ratio, power, row, values);
    std::cout << "    R " << std::setw(3) << power << ", row " << row << ": " << std::setw(2)
              << levels << " chain indexes; |k| up to " << std::setw(3) << power / 2 - 1
              << "; mean error " << std::scientific << std::setprecision(3) << mean << " ("
              << std::fixed << std::setprecision(1) << -std::log2(mean) << " bits)"
              << std::endl;
  }
}

// Builds a core (computing or loading its layers) and runs the three steps
// on the input at chain index 0, raised to the encoding chain index.
StageTimes run(const SealCkksContext& he, const Options& options, const CTile& input,
               std::vector<Complex>& result, const std::vector<Complex>* modelValues = nullptr)
{
  StageTimes times;
  Clock setup;
  BootstrapConfig config;
  config.targetChainIndex = options.depth - BootstrapCore::getLevelCost(config, options.slots);
  BootstrapCore core(he, config);
  times.setup = setup.wallSeconds();

  CTile x = qvtest::raiseModulus(input, core.getEncodingChainIndex());
  if (modelValues != nullptr) {
    std::cout << "  input: encrypted at chain index 0, raised to the encoding chain index; its "
                 "coefficients carry multiples k of q0 up to |k| = "
              << qvtest::largestMultipleOfFirstPrime(x) << " (R = " << core.getR()
              << " covers up to " << core.getR() / 2 - 1 << ")" << std::endl;
    printModel(core, x, *modelValues);
  }

  // Only the three steps below enter the timing report.
  SectionTimer::getRoot().children.clear();
  Clock cpu;
  Clock c2s;
  auto halves = core.coef2slot(x);
  times.coef2slot = c2s.wallSeconds();
  CTile y = halves.first;
  Clock mod;
  core.modInPlaceForBootstrap(y, static_cast<double>(he.getModulusChain()->at(0)), false);
  times.mod = mod.wallSeconds();
  Clock s2c;
  CTile z = core.slot2coef(y, CTile(he));
  times.slot2coef = s2c.wallSeconds();
  times.cpu = cpu.cpuSeconds();
  result = Encoder(he).decryptDecodeComplex(z);
  return times;
}

void printTimes(const std::string& title, const StageTimes& t)
{
  std::cout << std::fixed << std::setprecision(3) << "  " << title << ": set-up " << t.setup
            << " s; CoeffToSlot " << t.coef2slot << " s, modular reduction " << t.mod
            << " s, SlotToCoeff " << t.slot2coef << " s; pipeline " << t.pipeline()
            << " s wall, " << t.cpu << " s CPU" << std::endl;
}

// The leaf timings of the section timer gathered by name, largest first.
void printWhereTheTimeGoes(double total)
{
  std::map<std::string, SectionTimer::Node> leaves;
  SectionTimer::getRoot().collectLeaves(leaves);
  std::vector<std::pair<double, std::string>> rows;
  for (const auto& [name, node] : leaves)
    rows.emplace_back(node.totalMicros * 1e-6, name + " x" + std::to_string(node.count));
  std::sort(rows.rbegin(), rows.rend());
  std::cout << "  where the warm pipeline's time goes (largest timed operations):" << std::endl;
  for (size_t i = 0; i < rows.size() && i < 8; ++i)
    std::cout << "    " << std::fixed << std::setprecision(3) << rows[i].first << " s ("
              << std::setprecision(0) << 100 * rows[i].first / total << "%) "
              << rows[i].second << std::endl;
}

Options parse(int argc, char** argv)
{
  Options options;
  for (int i = 1; i + 1 < argc; i += 2) {
    std::string name = argv[i];
    int value = std::atoi(argv[i + 1]);
    if (name == "--slots")
      options.slots = value;
    else if (name == "--depth")
      options.depth = value;
    else if (name == "--frac")
      options.fractionalBits = value;
    else if (name == "--int")
      options.integerBits = value;
    else
      throw std::invalid_argument("unknown option " + name);
  }
  return options;
}

} // namespace

int main(int argc, char** argv)
{
  Options options = parse(argc, argv);
  // The cache goes under ./output of a fresh directory: the first core finds
  // it empty, the second loads what the first stored.
  std::string pattern =
      (std::filesystem::temp_directory_path() / "qv-bootstrap-bench-XXXXXX").string();
  if (mkdtemp(&pattern[0]) == nullptr) {
    std::cerr << "cannot create a temporary directory" << std::endl;
    return 1;
  }
  std::filesystem::current_path(pattern);

  std::cout << "== " << options.slots << " slots: ring degree " << 2 * options.slots
            << ", depth " << options.depth << ", primes of " << options.fractionalBits
            << " bits (first and special " << options.fractionalBits + options.integerBits
            << "), insecure" << std::endl;
  Clock keys;
  SealCkksContext he;
  he.init(HeConfigRequirement::insecure(options.slots, options.depth, options.fractionalBits,
                                        options.integerBits));
  std::cout << "  context and keys: " << std::fixed << std::setprecision(3)
            << keys.wallSeconds() << " s; load average " << loadAverage()
            << "; one NTT of degree " << 2 * options.slots << ": " << std::setprecision(1)
            << nttMicros(he) << " us" << std::endl;

  std::mt19937 gen(2024);
  std::uniform_real_distribution<double> dist(-1.0, 1.0);
  std::vector<Complex> values(options.slots);
  for (auto& v : values)
    v = dist(gen);

  CTile input(he);
  Encoder(he).encodeEncrypt(input, values, 0);
  std::vector<Complex> result;
  StageTimes cold = run(he, options, input, result, &values);
  printTimes("cold cache", cold);
  StageTimes warm = run(he, options, input, result);
  printTimes("warm cache", warm);
  printWhereTheTimeGoes(warm.pipeline());

  double maxError = 0;
  double meanError = 0;
  for (int i = 0; i < options.slots; ++i) {
    double e = std::abs(result[i] - values[i]);
    maxError = std::max(maxError, e);
    meanError += e / options.slots;
  }
  std::cout << "  error: max " << std::scientific << std::setprecision(3) << maxError << " ("
            << std::fixed << std::setprecision(1) << -std::log2(maxError) << " bits), mean "
            << std::scientific << std::setprecision(3) << meanError << " (" << std::fixed
            << std::setprecision(1) << -std::log2(meanError) << " bits)" << std::endl;
  std::cout << "  peak memory: " << peakMemoryMb() << " MB" << std::endl;

  std::error_code ec;
  std::filesystem::current_path("/", ec);
  std::filesystem::remove_all(pattern, ec);

  std::cout << "bootstrap slots=" << options.slots << " precision_bits=" << std::fixed
            << std::setprecision(1) << -std::log2(meanError) << " max_error=" << std::scientific
            << std::setprecision(3) << maxError << " seconds=" << std::fixed
            << std::setprecision(2) << warm.pipeline() << std::endl;
  return 0;
}
