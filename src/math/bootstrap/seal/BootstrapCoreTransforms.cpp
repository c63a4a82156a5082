// The slot and coefficient transforms of the bootstrap core: CoeffToSlot and
// SlotToCoeff by encoded matrix diagonals or by FFT layers, the rotation tree,
// and the file cache of the encoded matrices and layers.

#include <chrono>
#include <cmath>
#include <iostream>
#include <stdexcept>
#include <string>
#include <thread>

#include "hebase/CTile.h"
#include "hebase/Encoder.h"
#include "hebase/HeContext.h"
#include "hebase/PTile.h"
#include "hebase/utils/FileUtils.h"
#include "hebase/utils/SectionTimer.h"
#include "math/MathUtils.h"
#include "math/bootstrap/seal/BootstrapCore.h"
#include "math/bootstrap/seal/FFTUtils.h"
#include "math/bootstrap/seal/FunctionalMatrix.h"
#include "math/bootstrap/seal/TileRotations.h"

namespace quorvane {

namespace {

using Complex = std::complex<double>;

// Up to this many partial sums make up a diagonal product.
constexpr int MAX_JOBS = 32;

// The decoding matrix for the imaginary parts of complex data on a context
// whose slots take the powers of 5 but whose exact imaginary unit alternates
// (a debug context): input slot j arrives multiplied by (-1)^j, so column c
// is negated when odd.
class AlternatingDecodingMatrix : public DecodingMatrix
{
public:
  using DecodingMatrix::DecodingMatrix;
  std::complex<double> getElement(int row, int col) const override
  {
    std::complex<double> e = DecodingMatrix::getElement(row, col);
    return MathUtils::mod(col, 2) == 1 ? -e : e;
  }
};

// Refuses a ciphertext at another chain index than the transform's input.
void checkChainIndex(int expected, int actual)
{
  if (expected == actual)
    return;
  std::cout << "Expecting chain-index = " << expected << " and got " << actual << "."
            << std::endl;
  std::cout << "May need to fix default enc/decodingChainIndex indices in setEncodingMatrices()."
            << std::endl;
  throw std::runtime_error("Unexpected chain-index");
}

void rescaleRawTimes(CTile& c, int times)
{
  for (int i = 0; i < times; ++i)
    c.rescaleRaw();
}

} // namespace

// ---- Rotation tree ----

void BootstrapCore::createRotationDependencyMap()
{
  SectionTimer timer("createRotationDependencyMap");
  if (!rotationParent.empty())
    return;
  const int n = numSlots;
  rotationParent.assign(n, -1);
  rotationStep.assign(n, -1);
  rotationLevel.assign(n, -1);
  rotationParent[0] = rotationStep[0] = rotationLevel[0] = 0;
  int found = 1;
  int levelNow = 0;
  // Sets (k, s, L + 1) for a when it is unreached, or reached at L + 1 by a larger step.
  auto tryReach = [&](int k, int s, int a) {
    if (rotationParent[a] == -1) {
      ++found;
    } else if (!(std::abs(s) < std::abs(rotationStep[a]) && rotationLevel[a] == levelNow + 1)) {
      return;
    }
    rotationParent[a] = k;
    rotationStep[a] = s;
    rotationLevel[a] = levelNow + 1;
  };
  while (found < n) {
    for (int k = 0; k < n && found < n; ++k) {
      if (rotationLevel[k] != levelNow)
        continue;
      for (int s = 1; s < n && found < n; s *= 2) {
        tryReach(k, s, (k + s) % n);
        tryReach(k, -s, MathUtils::mod(k - s, n));
      }
    }
    ++levelNow;
  }
}

void BootstrapCore::getAllRotationsOf(const CTile& x, std::vector<CTile>& rotations) const
{
  SectionTimer timer("getAllRotationsOf");
  if (static_cast<int>(rotations.size()) != numSlots)
    throw std::invalid_argument("getAllRotationsOf needs " + std::to_string(numSlots) +
                                " ciphertexts to fill, got " + std::to_string(rotations.size()));
  const bool verbose = config.verbose > VERBOSITY_NONE;
  if (verbose)
    std::cout << "getAllRotationsOf:" << std::endl;
  std::deque<int> queue{0};
  int remaining = numSlots;
  if (verbose)
    std::cout << "max number of threads = " << 1 << std::endl;
  computeRotations(x, rotations, queue, remaining);
  if (verbose)
    std::cout << std::endl << "done creating rotations" << std::endl;
}

void BootstrapCore::computeRotations(const CTile& x, std::vector<CTile>& rotations,
                                     std::deque<int>& queue, int& remaining) const
{
  // The amounts reached from each amount, in increasing order.
  std::vector<std::vector<int>> children(numSlots);
  for (int i = 1; i < numSlots; ++i)
    children[rotationParent[i]].push_back(i);
  // Siblings follow one another in the queue: they share their parent's
  // rotation decomposition.
  std::unique_ptr<TileRotations> fromParent;
  int currentParent = -1;
  while (true) {
    int left = remaining;
    int k = -1;
    if (!queue.empty()) {
      k = queue.front();
      queue.pop_front();
    }
    if (left == 0)
      return;
    if (k == -1) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      continue;
    }
    const int p = rotationParent[k];
    if (p != currentParent || !fromParent) {
      fromParent = std::make_unique<TileRotations>(p != 0 ? rotations[p] : x);
      currentParent = p;
    }
    rotations[k] = fromParent->rotate(p != 0 ? rotationStep[k] : k);
    for (int i : children[k])
      queue.push_back(i);
    --remaining;
    if (config.verbose > VERBOSITY_NONE && remaining % 256 == 0)
      std::cout << remaining << " " << std::flush;
  }
}

// ---- Products by encoded diagonals ----

std::shared_ptr<std::vector<PTile>>
BootstrapCore::getEncodedVectorsFromFunctionalMatrix(const FunctionalMatrix& matrix,
                                                     int chainIndex, double factor,
                                                     double scale) const
{
  SectionTimer timer("getEncodedVectorsFromFunctionalMatrix");
  Encoder encoder(he);
  if (scale != -1.0)
    encoder.setDefaultScale(scale);
  const int rows = matrix.rowEnd - matrix.rowBegin + 1;
  const int cols = matrix.colEnd - matrix.colBegin + 1;
  if (cols > numSlots)
    std::cout << "WARNING: Functional matrix is wider than number of slots. Ignoring finals "
                 "matrix row entries.";
  auto res = std::make_shared<std::vector<PTile>>(rows, PTile(he));
  std::vector<Complex> v(numSlots);
  for (int i = 0; i < rows; ++i) {
    for (int j = 0; j < numSlots; ++j) {
      if (j >= cols) {
        v[j] = 0;
        continue;
      }
      v[j] = matrix.get(i, j);
      if (factor != 1.0)
        v[j] *= factor;
    }
    if (rows > 256 && i % 256 == 0)
      std::cout << i << " " << std::flush;
    encoder.encode((*res)[i], v, chainIndex);
  }
  if (rows > 256)
    std::cout << std::endl;
  return res;
}

std::vector<CTile> BootstrapCore::getRotationsForProduct(const CTile& x,
                                                         const std::vector<PTile>& diagonals) const
{
  if (diagonals.empty() || static_cast<int>(diagonals.size()) > numSlots)
    throw std::invalid_argument("a product by 1 to " + std::to_string(numSlots) +
                                " diagonals, got " + std::to_string(diagonals.size()));
  std::vector<CTile> rotations(numSlots, CTile(he));
  getAllRotationsOf(x, rotations);
  const int c0 = rotations[0].getChainIndex();
  if (config.verbose > VERBOSITY_NONE)
    std::cout << "chainIndex = " << c0 << std::endl;
  {
    SectionTimer chainTimer("setChainIndex");
    checkChainIndex(diagonals[0].getChainIndex(), c0);
  }
  return rotations;
}

CTile BootstrapCore::getMulCipherWithDiagonalizedMatrix(const CTile& x,
                                                        const std::vector<PTile>& diagonals) const
{
  SectionTimer timer("getMulCipherWithDiagonalizedMatrix");
  const bool verbose = config.verbose > VERBOSITY_NONE;
  std::vector<CTile> rotations = getRotationsForProduct(x, diagonals);
  const int count = static_cast<int>(diagonals.size());
  const int jobs = count <= MAX_JOBS ? 1 : MAX_JOBS;
  const int jobSize = count / jobs;
  std::vector<CTile> partial(jobs, CTile(he));
  if (verbose)
    std::cout << count << ": jobs=" << jobs << ", jobSize=" << jobSize << " : " << std::endl;
  for (int i = 0; i < jobs; ++i) {
    for (int k = 0; k < jobSize; ++k) {
      int t = i * jobSize + k;
      CTile y(rotations[t]);
      y.multiplyPlainRaw(diagonals[t]);
      if (k == 0)
        partial[i] = std::move(y);
      else
        partial[i].add(y);
      if (i == 0 && verbose && k % 25 == 0)
        std::cout << " " << k << std::flush;
    }
    if (i == 0 && verbose)
      std::cout << std::endl;
  }
  CTile res = partial[0];
  for (int i = 1; i < jobs; ++i)
    res.add(partial[i]);
  return res;
}

std::pair<CTile, CTile>
BootstrapCore::getMulCipherWithDiagonalsByParity(const CTile& x,
                                                 const std::vector<PTile>& diagonals) const
{
  SectionTimer timer("getMulCipherWithDiagonalsByParity");
  std::vector<CTile> rotations = getRotationsForProduct(x, diagonals);
  std::pair<CTile, CTile> res{CTile(he), CTile(he)};
  for (size_t t = 0; t < diagonals.size(); ++t) {
    CTile& sum = t % 2 == 0 ? res.first : res.second;
    CTile y(rotations[t]);
    y.multiplyPlainRaw(diagonals[t]);
    if (sum.isEmpty())
      sum = std::move(y);
    else
      sum.add(y);
  }
  return res;
}

std::pair<CTile, CTile>
BootstrapCore::getMulCipherWithDiagonalizedEncodingMatrix(const CTile& x,
                                                          const std::vector<PTile>& diagonals) const
{
  SectionTimer timer("getMulCipherWithDiagonalizedEncodingMatrix");
  if (config.supportComplexData && getImaginaryUnitSign(1) == -1)
    return getMulCipherWithAlternatingEncodingMatrix(x, diagonals);
  CTile y = getMulCipherWithDiagonalizedMatrix(x, diagonals);
  CTile z(y);
  z.conjugate();
  if (config.supportComplexData) {
    // Times -i; with the alternating unit the imaginary parts come out
    // negated in the odd slots, which the second decoding half undoes.
    CTile w(y);
    w.multiplyPlainRaw(encodeImaginaryUnit(-1, y.getChainIndex()));
    CTile w2(w);
    w2.conjugate();
    y.add(z);
    w.add(w2);
    rescaleRawTimes(y, 2);
    rescaleRawTimes(w, 2);
    return {std::move(y), std::move(w)};
  }
  y.add(z);
  rescaleRawTimes(y, 2);
  return {std::move(y), CTile(he)};
}

std::pair<CTile, CTile>
BootstrapCore::getMulCipherWithAlternatingEncodingMatrix(const CTile& x,
                                                         const std::vector<PTile>& diagonals) const
{
  // The coefficients n .. 2n-1 take the encoding matrix after the input is
  // multiplied by D = zeta^(-n g^c) = -s_c i in slot c. With s_c = (-1)^c,
  // a rotation by k turns D into (-1)^k D, so that product is D times the
  // even diagonals' sum minus the odd ones': no further rotations.
  auto [even, odd] = getMulCipherWithDiagonalsByParity(x, diagonals);
  CTile y(even);
  if (!odd.isEmpty())
    y.add(odd);
  CTile w(even);
  if (!odd.isEmpty())
    w.sub(odd);
  w.multiplyPlainRaw(encodeAlternatingImaginaryUnit(-1, w.getChainIndex()));
  for (CTile* half : {&y, &w}) {
    CTile conjugated(*half);
    conjugated.conjugate();
    half->add(conjugated);
    rescaleRawTimes(*half, 2);
  }
  return {std::move(y), std::move(w)};
}

CTile BootstrapCore::getMulCipherWithDiagonalizedDecodingMatrix(
    const CTile& x, const std::vector<PTile>& diagonals) const
{
  SectionTimer timer("getMulCipherWithDiagonalizedDecodingMatrix");
  return getMulCipherWithDiagonalizedMatrix(x, diagonals);
}

// ---- CoeffToSlot and SlotToCoeff ----

std::pair<CTile, CTile> BootstrapCore::coef2slot(const CTile& x) const
{
  SectionTimer timer("coef2slot");
  if (config.coef2slotViaFFT)
    return coef2slotFFT(x);
  return getMulCipherWithDiagonalizedEncodingMatrix(x, *encodingDiagonals);
}

std::pair<CTile, CTile> BootstrapCore::coef2slotFFT(const CTile& x) const
{
  if (config.verbose > VERBOSITY_NONE)
    std::cout << "coef2slotFFT" << std::endl;
  // The layers are encoded at the encoding chain index; a ciphertext elsewhere
  // would meet re-encoded or lowered plaintexts of other scales.
  checkChainIndex(encodingChainIndex, x.getChainIndex());
  CTile y(x);
  fftUtils->processCiphertextByLayers(fftUtils->getEncodingLayers(), y);
  CTile z(y);
  z.conjugate();
  y.add(z);
  rescaleRawTimes(y, 3);
  if (!he.getTraits().getIsMockup())
    y.checkScale("coef2slot out", 1e-20, 1e-10, true, -1);
  return {std::move(y), CTile(he)};
}

CTile BootstrapCore::slot2coef(const CTile& x1, const CTile& x2) const
{
  SectionTimer timer("slot2coef");
  checkTransformOrder(config);
  if (config.supportComplexData) {
    CTile y1 = getMulCipherWithDiagonalizedDecodingMatrix(x1, *decodingDiagonals);
    CTile y2 = getMulCipherWithDiagonalizedDecodingMatrix(x2, *decodingSecondHalfDiagonals);
    y1.add(y2);
    y1.rescaleRaw();
    return y1;
  }
  if (config.slot2coefViaFFT)
    return slot2coefFFT(x1);
  CTile y = getMulCipherWithDiagonalizedDecodingMatrix(x1, *decodingRealsDiagonals);
  y.rescaleRaw();
  return y;
}

CTile BootstrapCore::slot2coefFFT(const CTile& x) const
{
  const bool verbose = config.verbose > VERBOSITY_NONE;
  if (verbose)
    std::cout << "slot2coefFFT" << std::endl;
  checkChainIndex(decodingChainIndex, x.getChainIndex());
  CTile y1(x);
  CTile y2(x);
  fftUtils->processCiphertextByLayers(fftUtils->getDecodingLayers(), y1);
  fftUtils->processCiphertextByLayers(fftUtils->getDecodingMirrorLayers(), y2);
  if (verbose) {
    y1.debugPrint("FFT1", config.verbose, std::cout);
    y2.debugPrint("FFT2", config.verbose, std::cout);
  }
  y1.add(y2);
  if (verbose)
    y1.debugPrint("FFT1+FFT2", config.verbose, std::cout);
  rescaleRawTimes(y1, 2);
  y1.checkScale("bootstrap out", 0, 1e-10, true, -1);
  return y1;
}

// ---- Set-up and file cache ----

std::string BootstrapCore::getCacheDir() const
{
  std::string signature = he.getSignature();
  for (char& c : signature)
    if (c == ':')
      c = '_';
  return "./output/" + signature;
}

std::string BootstrapCore::getSlotOrderTag() const
{
  return generator == 5 ? "" : "_G" + std::to_string(generator);
}

std::string BootstrapCore::getFactorTag(double factor)
{
  return std::to_string(static_cast<int32_t>(-1000 * std::log(factor)));
}

void BootstrapCore::setEncodingMatrices()
{
  const bool verbose = config.verbose > VERBOSITY_NONE;
  if (verbose)
    std::cout << "setEncodingMatrices" << std::endl;
  if (!config.supportComplexData) {
    setEncodingRealsMatrices();
    return;
  }
  if (encodingDiagonals)
    return;
  SectionTimer timer("setEncodingMatrices");
  const int n = numSlots;
  EncodingMatrix encoding(*this, n);
  encoding.crop(0, 0, n - 1, n - 1);
  encoding.diagonalOrder = true;
  DecodingMatrix decoding(*this, n);
  decoding.crop(0, 0, n - 1, n - 1);
  decoding.diagonalOrder = true;
  DecodingMatrix plainSecondHalf(*this, n);
  AlternatingDecodingMatrix alternatingSecondHalf(*this, n);
  // On SEAL the encoding product gives the coefficients n .. 2n-1 themselves.
  const bool plain = hasExactImaginaryUnit() || getImaginaryUnitSign(1) == -1;
  FunctionalMatrix& secondHalf =
      plain ? static_cast<FunctionalMatrix&>(plainSecondHalf) : alternatingSecondHalf;
  secondHalf.crop(0, n, n - 1, 2 * n - 1);
  secondHalf.diagonalOrder = true;
  double encodingScale = getPlainScaleForTwoRescales(baseScale, encodingChainIndex);
  if (verbose) {
    std::cout << "EncodingFactor=" << encFactor << std::endl;
    std::cout << "EncodingScale =" << encodingScale << std::endl;
    std::cout << "DecodingFactor=" << decFactor << std::endl;
  }
  encodingDiagonals = getEncodedVectorsFromFunctionalMatrix(encoding, encodingChainIndex,
                                                            encFactor, encodingScale);
  decodingDiagonals =
      getEncodedVectorsFromFunctionalMatrix(decoding, decodingChainIndex, decFactor, -1.0);
  decodingSecondHalfDiagonals =
      getEncodedVectorsFromFunctionalMatrix(secondHalf, decodingChainIndex, decFactor, -1.0);
}

void BootstrapCore::setFftLayers(std::vector<FFTLayer>& layers,
                                 void (FFTUtils::*compute)(std::vector<FFTLayer>&, double) const,
                                 const std::string& path, int chainIndex, double factor,
                                 bool isEncoding, const std::string& computingMessage,
                                 const std::string& encodingMessage)
{
  const bool verbose = config.verbose > VERBOSITY_NONE;
  bool loaded = config.loadEncMatrices && fftUtils->loadEncodedLayersFromFile(layers, path);
  if (loaded) {
    // Layers that the set-up would not make, or whose rotation trees cannot
    // be built, are recomputed.
    std::string problem = fftUtils->checkLoadedLayers(layers, chainIndex, isEncoding);
    if (problem.empty()) {
      try {
        fftUtils->createRotationDependencyMaps(layers);
      } catch (const std::runtime_error& e) {
        problem = e.what();
      }
    }
    if (!problem.empty()) {
      std::cout << "WARNING: ignoring the cache file " << path << ": " << problem << std::endl;
      loaded = false;
    }
  }
  if (!loaded) {
    if (verbose)
      std::cout << computingMessage << std::endl << "calculating layers" << std::endl;
    ((*fftUtils).*compute)(layers, factor);
    if (verbose)
      std::cout << "joining layers" << std::endl;
    fftUtils->joinLayers(layers);
    if (verbose)
      std::cout << encodingMessage << chainIndex << std::endl;
    fftUtils->encodeLayers(layers, chainIndex, isEncoding);
    if (config.storeEncMatrices)
      fftUtils->storeEncodedLayersToFile(layers, path);
    fftUtils->createRotationDependencyMaps(layers);
  }
}

std::shared_ptr<std::vector<PTile>> BootstrapCore::loadDiagonals(const std::string& path,
                                                                 int chainIndex, double scale,
                                                                 bool progress) const
{
  auto res = std::make_shared<std::vector<PTile>>();
  try {
    std::ifstream in = FileUtils::openFileForRead(path, std::ios::binary,
                                                  std::ios::failbit | std::ios::badbit);
    for (int i = 0; i < numSlots; ++i) {
      PTile p(he);
      p.load(in);
      if (p.getChainIndex() != chainIndex || p.getScale() != scale)
        throw std::runtime_error("a plaintext not at the chain index and scale expected");
      res->push_back(std::move(p));
      if (progress && i > 0 && i % 256 == 0)
        std::cout << i << " " << std::flush;
    }
    if (in.peek() != std::ifstream::traits_type::eof())
      throw std::runtime_error("data after the diagonals");
  } catch (const std::exception& e) {
    if (progress)
      std::cout << std::endl;
    std::cout << "WARNING: ignoring the cache file " << path << ": " << e.what() << std::endl;
    return nullptr;
  }
  if (progress)
    std::cout << std::endl;
  return res;
}

void BootstrapCore::storeDiagonals(const std::vector<PTile>& diagonals, const std::string& path,
                                   bool progressFromZero) const
{
  FileUtils::PendingFile out(path);
  for (size_t i = 0; i < diagonals.size(); ++i) {
    diagonals[i].save(out);
    if ((i > 0 || progressFromZero) && i % 256 == 0)
      std::cout << i << " " << std::flush;
  }
  std::cout << std::endl;
  out.commit();
}

void BootstrapCore::setEncodingRealsMatrices()
{
  const bool done = config.slot2coefViaFFT ? !fftUtils->getDecodingLayers().empty()
                                           : decodingRealsDiagonals != nullptr;
  if (done)
    return;
  SectionTimer timer("setEncodingRealsMatrices");
  const bool verbose = config.verbose > VERBOSITY_NONE;
  const int n = numSlots;
  const int e = encodingChainIndex;
  const int d = decodingChainIndex;
  EncodingMatrix encoding(*this, n);
  encoding.crop(0, 0, n - 1, n - 1);
  encoding.diagonalOrder = true;
  DecodingRealsMatrix decoding(*this, n);
  decoding.rowBegin = 0;
  decoding.colBegin = 0;
  decoding.rowEnd = n - 1;
  decoding.colEnd = n - 1;
  decoding.diagonalOrder = true;
  decoding.bitReversedColumns = config.coef2slotViaFFT;
  if (verbose) {
    std::cout << "EncodingFactor=" << encFactor << std::endl;
    std::cout << "DecodingFactor=" << decFactor << std::endl;
  }

  // The cache directory is needed only to store into it.
  const std::string dir = getCacheDir();
  if (config.storeEncMatrices) {
    FileUtils::createDir("./output");
    FileUtils::createDir(dir);
  }
  const std::string encTag = "_F" + getFactorTag(encFactor);
  const std::string decTag = "_F" + getFactorTag(decFactor);
  const std::string bin = getSlotOrderTag() + ".bin";

  if (config.coef2slotViaFFT)
    setFftLayers(fftUtils->getEncodingLayers(), &FFTUtils::computeEncodingLayers,
                 dir + "/ENC_FFT_CI" + std::to_string(e) + encTag + bin, e, encFactor, true,
                 "computing encoding FFT layers", "encoding coef2slot layers at ");
  if (config.slot2coefViaFFT) {
    setFftLayers(fftUtils->getDecodingLayers(), &FFTUtils::computeDecodingLayers,
                 dir + "/DEC_FFT_CI" + std::to_string(d) + decTag + bin, d, decFactor, false,
                 "computing decoding FFT slot2coef layers", "encoding slot2coef layers at ");
    setFftLayers(fftUtils->getDecodingMirrorLayers(), &FFTUtils::computeDecodingMirrorLayers,
                 dir + "/DEC_FFT_CI_MIRROR" + std::to_string(d) + decTag + bin, d, decFactor,
                 false, "computing decoding FFT slot2coef mirror layers",
                 "encoding slot2coefMirror layers at ");
  }

  if (!config.coef2slotViaFFT) {
    const std::string path = dir + "/ENC_CI" + std::to_string(e) + encTag + bin;
    const double scale = getPlainScaleForTwoRescales(baseScale, e);
    if (config.loadEncMatrices && FileUtils::pathExists(path)) {
      if (verbose)
        std::cout << "loading encoding matrix from " << path << std::endl;
      encodingDiagonals = loadDiagonals(path, e, scale, true);
    }
    if (!encodingDiagonals) {
      if (verbose) {
        std::cout << "EncodingScale =" << scale << std::endl;
        std::cout << "computing encoding matrix" << std::endl;
      }
      encodingDiagonals = getEncodedVectorsFromFunctionalMatrix(encoding, e, encFactor, scale);
      if (config.storeEncMatrices) {
        if (verbose)
          std::cout << "storing encoding matrix in " << path << std::endl;
        storeDiagonals(*encodingDiagonals, path, false);
        std::cout << "encoding matrix stored" << std::endl;
      }
    }
  }

  if (!config.slot2coefViaFFT) {
    // The bit-reversed matrix has a name of its own, apart from the decoding layers.
    const std::string path = dir + (config.coef2slotViaFFT ? "/DEC_FFT_CI" : "/DEC_CI") +
                             std::to_string(d) + decTag +
                             (config.coef2slotViaFFT ? "_MATRIX" : "") + bin;
    if (config.loadEncMatrices && FileUtils::pathExists(path)) {
      SectionTimer loadTimer("load decoding matrix");
      if (verbose)
        std::cout << "loading decoding matrix from " << path << std::endl;
      decodingRealsDiagonals = loadDiagonals(path, d, Encoder(he).getDefaultScale(d), false);
    }
    if (!decodingRealsDiagonals) {
      std::cout << "computing decoding matrix" << std::endl;
      decodingRealsDiagonals = getEncodedVectorsFromFunctionalMatrix(decoding, d, decFactor, -1.0);
      if (config.storeEncMatrices) {
        if (verbose)
          std::cout << "storing decoding matrix in " << path << std::endl;
        storeDiagonals(*decodingRealsDiagonals, path, true);
        std::cout << "decoding matrix stored" << std::endl;
      }
    }
  }
}

} // namespace quorvane
