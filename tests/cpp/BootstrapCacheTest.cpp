// The file cache of the bootstrap core: names that carry what the content
// depends on, files written whole, unreadable files recomputed, and the
// directory made only to store into it.

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "BootstrapTestUtils.h"
#include "TestUtils.h"
#include "math/bootstrap/seal/BootstrapCore.h"
#include "math/bootstrap/seal/FFTLayer.h"
#include "math/bootstrap/seal/FFTUtils.h"

using namespace quorvane;
using namespace qvtest;
namespace fs = std::filesystem;

namespace {

constexpr int SLOTS = 8;
constexpr int DEPTH = 20;
const std::string DIR = "output/context_SEAL_KEY_DEG16_MID40_EXT10_D20_INSEC";
// SEAL's cache files carry its slot order (the powers of 3) in their names.
const std::string BIN = "_G3.bin";

const HeContext& sealContext() { return bootstrapSealContext(SLOTS, DEPTH); }

BootstrapConfig cachedConfig(bool c2sFft, bool s2cFft)
{
  BootstrapConfig config;
  config.coef2slotViaFFT = c2sFft;
  config.slot2coefViaFFT = s2cFft;
  return config;
}

std::string tag(double factor) { return "_F" + BootstrapCore::getFactorTag(factor); }

// The saved form of the encoded layers of a set.
std::string savedLayers(const FFTUtils::Layers& layers)
{
  std::ostringstream out;
  for (const FFTLayer& layer : layers)
    layer.save(out);
  return out.str();
}

// CoeffToSlot, the reduction and SlotToCoeff give the input back.
void expectPipelineWorks(const BootstrapCore& core)
{
  auto values = randomReal(23, SLOTS, -1, 1);
  CTile x = encryptAt(core.getHeContext(), values, core.getEncodingChainIndex(),
                      core.getBaseScale());
  auto halves = core.coef2slot(x);
  CTile r = halves.first;
  core.modInPlaceForBootstrap(r, static_cast<double>(sealContext().getModulusChain()->at(0)),
                              false);
  auto got = decryptOf(core.slot2coef(r, CTile(core.getHeContext())));
  for (int i = 0; i < SLOTS; ++i)
    EXPECT_LT(std::abs(got[i] - values[i]), 1e-4) << i;
}

void truncate(const std::string& path)
{
  std::string content = readFile(path);
  std::ofstream(path, std::ios::binary | std::ios::trunc) << content.substr(0, content.size() / 3);
}

} // namespace

TEST(BootstrapCache, FactorTags)
{
  struct Case
  {
    double factor;
    std::string tag;
  };
  for (const Case& c : {Case{1.0, "0"}, Case{0.5, "693"}, Case{2.0, "-693"}, Case{1e-3, "6907"},
                        Case{0.9999, "0"}})
    EXPECT_EQ(BootstrapCore::getFactorTag(c.factor), c.tag) << c.factor;
}

TEST(BootstrapCache, LayerFilesAreStoredThenLoaded)
{
  TempWorkingDir cwd;
  std::string first;
  std::vector<std::string> names;
  {
    CoutCapture quiet;
    BootstrapCore core(sealContext(), cachedConfig(true, true));
    EXPECT_EQ(core.getCacheDir(), "./" + DIR);
    names = {"DEC_FFT_CI6" + tag(core.getDecFactor()) + BIN,
             "DEC_FFT_CI_MIRROR6" + tag(core.getDecFactor()) + BIN,
             "ENC_FFT_CI20" + tag(core.getEncFactor()) + BIN};
    EXPECT_EQ(entries(DIR), names);
    first = savedLayers(core.getFftUtils()->getEncodingLayers());
    EXPECT_EQ(readFile(DIR + "/" + names[2]), first);
  }
  auto before = fs::last_write_time(DIR + "/" + names[2]);
  CoutCapture capture;
  BootstrapCore loaded(sealContext(), cachedConfig(true, true));
  EXPECT_EQ(capture.str(), "");
  // Loaded layers hold only their encoded diagonals, the same ones.
  EXPECT_TRUE(loaded.getFftUtils()->getEncodingLayers()[0].getDiagonals().empty());
  EXPECT_EQ(savedLayers(loaded.getFftUtils()->getEncodingLayers()), first);
  EXPECT_EQ(fs::last_write_time(DIR + "/" + names[2]), before);
  EXPECT_EQ(entries(DIR), names);
  expectPipelineWorks(loaded);
}

TEST(BootstrapCache, DamagedLayerFilesAreRecomputedAndRewritten)
{
  TempWorkingDir cwd;
  std::string path;
  std::string good;
  {
    CoutCapture quiet;
    BootstrapCore core(sealContext(), cachedConfig(true, true));
    path = DIR + "/DEC_FFT_CI_MIRROR6" + tag(core.getDecFactor()) + BIN;
    good = readFile(path);
  }
  struct Case
  {
    std::string name;
    std::string content;
    std::string reason;
  };
  // A layer file made at another chain index, under this name.
  std::string otherChainIndex;
  {
    BootstrapConfig config = cachedConfig(true, true);
    config.targetChainIndex = 3;
    config.loadEncMatrices = false;
    CoutCapture quiet;
    BootstrapCore other(sealContext(), config);
    otherChainIndex = readFile(DIR + "/DEC_FFT_CI_MIRROR5" + tag(other.getDecFactor()) + BIN);
  }
  // Layers of well-formed files whose rotations the set-up cannot use.
  FFTUtils::Layers goodLayers;
  {
    CoutCapture quiet;
    BootstrapCore core(sealContext(), cachedConfig(true, true));
    goodLayers = core.getFftUtils()->getDecodingMirrorLayers();
  }
  auto withKeys = [&](int layer, const std::vector<int>& keys) {
    FFTUtils::Layers layers = goodLayers;
    const PTile zero = layers[layer].getEncodedDiagonals().at(0);
    layers[layer].getEncodedDiagonals().clear();
    for (int r : keys)
      layers[layer].getEncodedDiagonals().emplace(r, zero);
    return savedLayers(layers);
  };
  for (const Case& c :
       {Case{"truncated", good.substr(0, good.size() / 3), ""},
        Case{"trailing bytes", good + "x", "data after the two layers"},
        Case{"empty", "", ""},
        Case{"other chain index", otherChainIndex,
             "its plaintexts are not at the chain index and scales expected"},
        Case{"negative rotation", withKeys(1, {0, 1, -3}), "rotation -3 out of range"},
        Case{"rotation beyond the slots", withKeys(1, {0, 8}), "rotation 8 out of range"},
        Case{"no rotation 0", withKeys(0, {1}), "a layer without the rotation 0"},
        Case{"unreachable rotation", withKeys(1, {0, 3}), "unreachable rotations"}}) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << c.content;
    CoutCapture capture;
    BootstrapCore core(sealContext(), cachedConfig(true, true));
    std::string printed = capture.str();
    // The rotation tree prints its count of unreachable rotations first.
    const std::string before =
        c.reason == "unreachable rotations" ? "1 unreachable rotations in layer out of 2\n" : "";
    EXPECT_EQ(printed.rfind(before + "WARNING: ignoring the cache file ./" + path + ": ", 0), 0u)
        << c.name << ": " << printed;
    if (!c.reason.empty()) {
      EXPECT_NE(printed.find(c.reason), std::string::npos) << c.name << ": " << printed;
    }
    EXPECT_EQ(readFile(path), good) << c.name;
    expectPipelineWorks(core);
  }
}

TEST(BootstrapCache, FileNamesCarryTheSlotOrder)
{
  // SEAL's files end with its slot order; files under the names without it
  // (written before the slot order entered the names, or by a context of
  // the other order) are never read, and are left as they are.
  TempWorkingDir cwd;
  std::vector<std::string> tagged;
  {
    CoutCapture quiet;
    BootstrapCore core(sealContext(), cachedConfig(true, true));
    tagged = entries(DIR);
  }
  ASSERT_EQ(tagged.size(), 3u);
  for (const std::string& name : tagged) {
    std::string untagged = name.substr(0, name.size() - BIN.size()) + ".bin";
    fs::rename(DIR + "/" + name, DIR + "/" + untagged);
  }
  std::vector<std::string> untagged = entries(DIR);
  {
    CoutCapture quiet;
    BootstrapCore core(sealContext(), cachedConfig(true, true));
    // Computed, not loaded: built layers keep their diagonals.
    EXPECT_FALSE(core.getFftUtils()->getEncodingLayers()[0].getDiagonals().empty());
    EXPECT_FALSE(core.getFftUtils()->getDecodingLayers()[0].getDiagonals().empty());
    EXPECT_FALSE(core.getFftUtils()->getDecodingMirrorLayers()[0].getDiagonals().empty());
  }
  std::vector<std::string> all = untagged;
  all.insert(all.end(), tagged.begin(), tagged.end());
  std::sort(all.begin(), all.end());
  EXPECT_EQ(entries(DIR), all);

  // The mockup's names are the plain ones.
  auto mockup = mockupContext(SLOTS, DEPTH);
  CoutCapture quiet;
  BootstrapCore core(*mockup, cachedConfig(true, true), 1 << 20);
  const std::string dir = core.getCacheDir();
  for (const std::string& name : entries(dir)) {
    EXPECT_EQ(name.find("_G"), std::string::npos) << name;
    EXPECT_EQ(name.substr(name.size() - 4), ".bin") << name;
  }
  EXPECT_EQ(entries(dir).size(), 3u);
}

TEST(BootstrapCache, MatrixFilesCarryTheirFactors)
{
  TempWorkingDir cwd;
  struct Case
  {
    bool c2sFft;
    bool factors;
    std::vector<std::string> names;
  };
  // Cost 14: encoding chain index 18, decoding 5; cost 15 with the CoeffToSlot layers.
  BootstrapCore probe(sealContext(), uncachedConfig());
  const std::string enc = tag(probe.getEncFactor());
  const std::string dec = tag(probe.getDecFactor());
  for (const Case& c :
       {Case{false, true, {"DEC_CI5" + dec + BIN, "ENC_CI18" + enc + BIN}},
        Case{false, false, {"DEC_CI5_F0" + BIN, "ENC_CI18_F0" + BIN}},
        Case{true, true, {"DEC_FFT_CI5" + dec + "_MATRIX" + BIN, "ENC_FFT_CI19" + enc + BIN}}}) {
    fs::remove_all("output");
    BootstrapConfig config = cachedConfig(c.c2sFft, false);
    config.applyTransformFactors = c.factors;
    std::string reference;
    {
      CoutCapture quiet;
      BootstrapCore core(sealContext(), config);
      EXPECT_EQ(entries(DIR), c.names);
      reference = readFile(DIR + "/" + c.names[0]);
      if (c.factors) {
        expectPipelineWorks(core);
      }
    }
    // Loaded, then recomputed after damage, each time giving the same file.
    for (bool damage : {false, true}) {
      if (damage)
        truncate(DIR + "/" + c.names[0]);
      CoutCapture capture;
      BootstrapCore core(sealContext(), config);
      EXPECT_EQ(capture.str().find("WARNING: ignoring the cache file") != std::string::npos,
                damage)
          << capture.str();
      EXPECT_EQ(readFile(DIR + "/" + c.names[0]), reference);
      if (c.factors) {
        expectPipelineWorks(core);
      }
    }
  }
}

TEST(BootstrapCache, DirectoryOnlyToStoreInto)
{
  struct Case
  {
    bool load;
    bool store;
    bool complexData;
    bool made;
  };
  for (Case c : {Case{false, false, false, false}, Case{true, false, false, false},
                 Case{false, true, false, true}, Case{true, true, true, false}}) {
    TempWorkingDir cwd;
    BootstrapConfig config;
    config.loadEncMatrices = c.load;
    config.storeEncMatrices = c.store;
    config.supportComplexData = c.complexData;
    CoutCapture quiet;
    BootstrapCore core(sealContext(), config);
    EXPECT_EQ(fs::exists("output"), c.made) << c.load << c.store << c.complexData;
    if (c.made) {
      EXPECT_EQ(entries(DIR).size(), 3u);
    }
  }
}

TEST(BootstrapCache, StoringWithoutLoadingReplacesTheFiles)
{
  TempWorkingDir cwd;
  std::string path;
  {
    CoutCapture quiet;
    BootstrapCore core(sealContext(), cachedConfig(true, true));
    path = DIR + "/ENC_FFT_CI20" + tag(core.getEncFactor()) + BIN;
  }
  std::string good = readFile(path);
  std::ofstream(path, std::ios::binary | std::ios::trunc) << "stale";
  BootstrapConfig config = cachedConfig(true, true);
  config.loadEncMatrices = false;
  CoutCapture capture;
  BootstrapCore core(sealContext(), config);
  EXPECT_EQ(capture.str(), "");
  EXPECT_EQ(readFile(path), good);
  // Written under a temporary name and renamed: nothing else is left behind.
  EXPECT_EQ(entries(DIR).size(), 3u);
}
