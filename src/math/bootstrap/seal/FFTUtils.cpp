#include "math/bootstrap/seal/FFTUtils.h"

#include <array>
#include <iostream>
#include <stdexcept>

#include "hebase/CTile.h"
#include "hebase/HeContext.h"
#include "hebase/utils/Assert.h"
#include "hebase/utils/FileUtils.h"
#include "hebase/utils/SectionTimer.h"
#include "math/bootstrap/seal/BootstrapCore.h"

namespace quorvane {

namespace {

using Complex = std::complex<double>;

// Adds to the layer, for every block start s (a multiple of len) and every j
// below c = len / 2, the butterfly y[s+j] = a x[s+j] + b x[s+c+j] and
// y[s+c+j] = d x[s+j] + e x[s+c+j], its coefficients given by coefficients(j).
template <typename Coefficients>
void addButterflies(FFTLayer& layer, int numSlots, int len, Coefficients coefficients)
{
  const int c = len / 2;
  for (int s = 0; s < numSlots; s += len) {
    for (int j = 0; j < c; ++j) {
      auto [a, b, d, e] = coefficients(j);
      layer.getDiagonal(0)[s + j] += a;
      layer.getDiagonal(c)[s + j] += b;
      layer.getDiagonal(numSlots - c)[s + c + j] += d;
      layer.getDiagonal(0)[s + c + j] += e;
    }
  }
}

using Butterfly = std::array<Complex, 4>;

} // namespace

FFTUtils::FFTUtils(const BootstrapCore& core)
    : core(&core), numSlots(core.getNumSlots()), generator(core.getGenerator()),
      verbose(core.getConfig().verbose)
{
}

Complex FFTUtils::getTwiddle(int blockLength, int j) const
{
  int g = BootstrapCore::powMod(generator, j, 4 * blockLength);
  int index = (g * (numSlots / blockLength)) % core->getM();
  return core->getRoots()[index];
}

bool FFTUtils::hasOppositePairs(int blockLength) const
{
  int g = BootstrapCore::powMod(generator, blockLength / 2, 4 * blockLength);
  return g == 2 * blockLength + 1;
}

void FFTUtils::computeEncodingLayers(Layers& layers, double factor) const
{
  layers.clear();
  for (int len = numSlots; len > 1; len /= 2) {
    const bool first = layers.empty();
    const bool opposite = hasOppositePairs(len);
    FFTLayer layer(*core);
    addButterflies(layer, numSlots, len, [&](int j) {
      // Half the conjugate transpose of the forward butterfly: its inverse
      // when the pair's roots are opposite.
      Complex w = getTwiddle(len, j);
      Complex u = 0.5;
      Complex d = Complex(0.5, 0) / w;
      Complex e = -d;
      if (!opposite) {
        d = 0.5 * std::conj(w);
        e = 0.5 * std::conj(getTwiddle(len, j + len / 2));
      }
      if (first) {
        u = factor / 4;
        d *= factor / 2;
        e *= factor / 2;
      }
      return Butterfly{u, u, d, e};
    });
    layers.push_back(std::move(layer));
  }
}

void FFTUtils::computeDecodingLayers(Layers& layers, double factor) const
{
  layers.clear();
  for (int len = 2; len <= numSlots; len *= 2) {
    // The last stage carries the factor.
    const double e = len == numSlots ? factor : 1.0;
    const bool opposite = hasOppositePairs(len);
    FFTLayer layer(*core);
    addButterflies(layer, numSlots, len, [&](int j) {
      Complex w = e * getTwiddle(len, j);
      Complex v = opposite ? -w : e * getTwiddle(len, j + len / 2);
      return Butterfly{e, w, e, v};
    });
    layers.push_back(std::move(layer));
  }
}

void FFTUtils::computeDecodingMirrorLayers(Layers& layers, double factor) const
{
  layers.clear();
  FFTLayer first(*core);
  FFTLayer::Diagonal& d = first.getDiagonal(0);
  for (int k = 1; k < numSlots; ++k)
    d[k] = Complex(0, -1);
  layers.push_back(std::move(first));
  for (int len = 2; len <= numSlots; len *= 2) {
    const bool opposite = hasOppositePairs(len);
    FFTLayer layer(*core);
    addButterflies(layer, numSlots, len, [&](int j) {
      Complex w = getTwiddle(len, j);
      Complex v = opposite ? -w : getTwiddle(len, j + len / 2);
      return Butterfly{w, 1.0, v, 1.0};
    });
    layers.push_back(std::move(layer));
  }
  // Slot k gets factor zeta^(g^k) times the sign that turns -i zeta^(n g^k)
  // into 1.
  FFTLayer last(*core);
  FFTLayer::Diagonal& l = last.getDiagonal(0);
  for (int k = 0; k < numSlots; ++k)
    l[k] = factor * core->getRoot(k, 1) * static_cast<double>(core->getImaginaryUnitSign(k));
  layers.push_back(std::move(last));
}

void FFTUtils::joinLayers(Layers& layers) const
{
  LeafTimer timer("joinLayers");
  const int count = static_cast<int>(layers.size());
  QV_ASSERT(count >= 2);
  const int half = count / 2;
  if (verbose > 0)
    std::cout << "Merging [" << 0 << "," << half - 1 << "], [" << half << "," << count - 1 << "]"
              << std::endl;
  // The stages first .. last - 1 multiplied in order.
  auto join = [&](int first, int last) {
    FFTLayer acc = layers[first];
    FFTLayer scratch(*core);
    for (int t = first + 1; t < last; ++t) {
      acc.composeInto(layers[t], scratch);
      std::swap(acc, scratch);
    }
    return acc;
  };
  FFTLayer a = join(0, half);
  FFTLayer b = join(half, count);
  layers.clear();
  layers.push_back(std::move(a));
  layers.push_back(std::move(b));
}

double FFTUtils::getLayerScale(int index, int chainIndex, bool isEncoding) const
{
  const HeContext& he = core->getHeContext();
  const bool mockup = he.getTraits().getIsMockup();
  const double scale = he.getDefaultScale();
  if (index == 0 && isEncoding)
    return scale * scale;
  if (mockup)
    return scale;
  if (index == 1 && isEncoding) {
    auto q = he.getModulusChain();
    return he.getAccurateScale(chainIndex - 3) * static_cast<double>(q->at(chainIndex - 2)) *
           static_cast<double>(q->at(chainIndex - 1)) * static_cast<double>(q->at(chainIndex)) /
           scale / scale / he.getAccurateScale(0);
  }
  return he.getAccurateScale(chainIndex - index);
}

void FFTUtils::encodeLayers(Layers& layers, int chainIndex, bool isEncoding) const
{
  SectionTimer timer("encodeLayers");
  for (size_t i = 0; i < layers.size(); ++i)
    layers[i].encode(chainIndex, getLayerScale(static_cast<int>(i), chainIndex, isEncoding));
}

void FFTUtils::storeEncodedLayersToFile(const Layers& layers, const std::string& path) const
{
  if (verbose > 0)
    std::cout << "storing encoding FFT layers in " << path << std::endl << std::flush;
  QV_ASSERT(layers.size() >= 2);
  FileUtils::PendingFile out(path);
  layers[0].save(out);
  layers[1].save(out);
  out.commit();
  if (verbose > 0)
    std::cout << "encoding FFT layers stored" << std::endl;
}

bool FFTUtils::loadEncodedLayersFromFile(Layers& layers, const std::string& path) const
{
  SectionTimer timer("loadEncodedLayersFromFile");
  if (!FileUtils::pathExists(path))
    return false;
  if (verbose > 0)
    std::cout << "loading encoding FFT layers from " << path << std::endl << std::flush;
  Layers loaded;
  try {
    std::ifstream in = FileUtils::openFileForRead(path, std::ios::binary,
                                                  std::ios::failbit | std::ios::badbit);
    for (int i = 0; i < 2; ++i) {
      FFTLayer layer(*core);
      layer.load(in);
      loaded.push_back(std::move(layer));
    }
    if (in.peek() != std::ifstream::traits_type::eof())
      throw std::runtime_error("data after the two layers");
  } catch (const std::exception& e) {
    std::cout << "WARNING: ignoring the cache file " << path << ": " << e.what() << std::endl;
    return false;
  }
  layers = std::move(loaded);
  return true;
}

std::string FFTUtils::checkLoadedLayers(const Layers& layers, int chainIndex,
                                        bool isEncoding) const
{
  if (layers.size() != 2)
    return std::to_string(layers.size()) + " layers instead of 2";
  for (const FFTLayer& layer : layers) {
    const auto& diagonals = layer.getEncodedDiagonals();
    if (diagonals.count(0) == 0)
      return "a layer without the rotation 0";
    for (const auto& entry : diagonals)
      if (entry.first < 0 || entry.first >= numSlots)
        return "rotation " + std::to_string(entry.first) + " out of range";
  }
  for (size_t i = 0; i < layers.size(); ++i) {
    double scale = getLayerScale(static_cast<int>(i), chainIndex, isEncoding);
    for (const auto& entry : layers[i].getEncodedDiagonals())
      if (entry.second.getChainIndex() != chainIndex || entry.second.getScale() != scale)
        return "its plaintexts are not at the chain index and scales expected";
  }
  return "";
}

void FFTUtils::processCiphertextByLayers(const Layers& layers, CTile& x) const
{
  SectionTimer timer("processCiphertextByLayers");
  if (verbose > 0)
    std::cout << "Processing ciphertext by FT layers" << std::endl;
  for (size_t t = 0; t < layers.size(); ++t) {
    if (verbose > 0)
      std::cout << "Processing ciphertext by FT layer " << t << std::endl;
    layers[t].processCiphertextByLayer(x);
  }
  if (verbose > 0)
    std::cout << "Done processing ciphertext by FT layers" << std::endl;
}

void FFTUtils::createRotationDependencyMaps(Layers& layers) const
{
  for (FFTLayer& layer : layers)
    layer.createRotationDependencyMap();
}

void FFTUtils::clearLayers(Layers& layers) const { layers.clear(); }

} // namespace quorvane
