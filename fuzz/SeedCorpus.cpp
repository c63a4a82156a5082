// Writes the fixture (saved contexts and secret key) and a seed corpus of
// valid records for each fuzz target:
//   fuzz_seeds <fixture dir> <corpus dir>
// makes <corpus dir>/<target>/<seed> files; the directories must exist.

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <seal/seal.h>

#include "hebase/AbstractCiphertext.h"
#include "hebase/AbstractPlaintext.h"
#include "hebase/BootstrapConfig.h"
#include "hebase/CTile.h"
#include "hebase/Encoder.h"
#include "hebase/HeConfigRequirement.h"
#include "hebase/HeContext.h"
#include "hebase/MultiPartyConfig.h"
#include "hebase/NumberConfig.h"
#include "hebase/PTile.h"
#include "hebase/PublicFunctions.h"
#include "hebase/impl/AbstractProtocolMessage.h"
#include "hebase/impl/ProtocolMessage.h"
#include "hebase/seal/SealCkksContext.h"
#include "hebase/utils/BinIoUtils.h"
#include "hebase/utils/SaveableHeader.h"
#include "math/CTileTensor.h"
#include "math/DoubleTensor.h"
#include "math/EncryptedData.h"
#include "math/PTileTensor.h"
#include "math/Padding2d.h"
#include "math/TTDim.h"
#include "math/TTEncoder.h"
#include "math/TTShape.h"
#include "math/aes/AesHTable.h"
#include "math/aes/AesKey.h"
#include "math/aes/impl/AesBitwiseHTable.h"
#include "math/aes/impl/AesBitwiseKey.h"
#include "math/bootstrap/seal/BootstrapCore.h"
#include "math/bootstrap/seal/FFTLayer.h"
#include "math/bootstrap/seal/FFTUtils.h"
#include "EmptyTileRecords.h"
#include "FuzzFixtures.h"

using namespace quorvane;
using namespace qvrecords;

namespace {

void write(const std::string& path, const std::string& bytes)
{
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
  if (!out)
    throw std::runtime_error("cannot write " + path);
}

template <typename T>
std::string saved(const T& object)
{
  std::ostringstream out;
  object.save(out);
  return out.str();
}

template <typename T>
std::string sealBlob(const T& object)
{
  std::ostringstream out;
  object.save(out, seal::compr_mode_type::none);
  return out.str();
}

std::string savedKey(const HeContext& he, bool seedOnly)
{
  std::ostringstream out;
  he.saveSecretKey(out, seedOnly);
  return out.str();
}

std::string tag(int value) { return std::string(1, static_cast<char>(value)); }

std::string readAll(const std::string& path)
{
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

/// A tile tensor of the context holding a few values, its tiles of the sizes.
std::shared_ptr<CTileTensor> tensorOf(const HeContext& he, const std::vector<int>& tileSizes,
                                      const std::vector<int>& sizes)
{
  DoubleTensor values(sizes);
  for (int i = 0; i < values.size(); ++i)
    values.at(i) = 0.25 * (i % 7) - 0.5;
  auto res = std::make_shared<CTileTensor>(he);
  TTEncoder(he).encodeEncrypt(*res, TTShape(tileSizes), values);
  return res;
}

void writeTensorSeeds(const std::string& dir, const HeContext& seal, const HeContext& mockup,
                      const HeContext& multiParty)
{
  for (int which = 0; which < 3; which++) {
    const HeContext& he = which == 0 ? mockup : which == 1 ? seal : multiParty;
    const std::string name = which == 0 ? "mockup" : which == 1 ? "seal" : "multi_party";
    DoubleTensor values({3, 2});
    for (int i = 0; i < values.size(); ++i)
      values.at(i) = 0.5 * i - 1;
    TTEncoder encoder(he);
    PTileTensor packed(he);
    encoder.encode(packed, TTShape({2, 4}), values);
    PTileTensor lazy(he);
    TTEncoder(he, LAZY_ENCODING).encode(lazy, TTShape({4, 2}), values, 1);
    TTShape shape({2, 4});
    shape.setOriginalSizes({3, 2});
    PTileTensor unpacked(he, shape);
    EncryptedBatch batch(he);
    batch.addItem(tensorOf(he, {2, 4}, {3, 2}));
    batch.addItem(tensorOf(he, {8}, {5}));
    EncryptedData data(he);
    data.addBatch(batch);
    data.addBatch(batch);
    write(dir + "/" + name + "_packed_ptt", tag(which) + saved(packed));
    write(dir + "/" + name + "_lazy_ptt", tag(which) + saved(lazy));
    write(dir + "/" + name + "_unpacked_ptt", tag(which) + saved(unpacked));
    write(dir + "/" + name + "_ctt", tag(which) + saved(*tensorOf(he, {4, 2}, {4, 3})));
    write(dir + "/" + name + "_batch", tag(which) + saved(batch));
    write(dir + "/" + name + "_data", tag(which) + saved(data));
    // Metadata, then the body of batch 0.
    write(dir + "/" + name + "_stored_data",
          tag(which | 4) + std::string("\x01\0\0\0\0\0\0\0", 8) + saved(batch));
    // Containers holding an empty tile (SEAL saves no empty ciphertext).
    write(dir + "/" + name + "_ptt_empty_tile", tag(which) + withEmptyTile<PTile>(packed, 1));
    if (which == 1)
      continue;
    const std::string emptyTile = withEmptyTile<CTile>(*tensorOf(he, {4, 2}, {4, 3}), 0);
    TTShape complexPacked;
    complexPacked.addDim(TTDim(4, 2));
    complexPacked.addDim(TTDim(6, 4, 1, false, false, true));
    DoubleTensor complexValues({4, 6});
    CTileTensor complexTensor(he);
    encoder.encodeEncrypt(complexTensor, complexPacked, complexValues);
    write(dir + "/" + name + "_ctt_empty_tile", tag(which) + emptyTile);
    write(dir + "/" + name + "_complex_empty_tile",
          tag(which) + withEmptyTile<CTile>(complexTensor, 1));
    write(dir + "/" + name + "_batch_empty_tile", tag(which) + batchOf(he, emptyTile));
    write(dir + "/" + name + "_data_empty_tile",
          tag(which) + dataSetOf(he, emptyTile));
    write(dir + "/" + name + "_stored_data_empty_tile",
          tag(which | 4) + std::string("\x01\0\0\0\0\0\0\0", 8) + batchOf(he, emptyTile));
  }
  ProtocolMessage message(multiParty, PROTOCOL_DECRYPT, MP_KEY_OWNER, 1);
  auto data = std::make_shared<EncryptedData>(multiParty);
  EncryptedBatch batch(multiParty);
  batch.addItem(tensorOf(multiParty, {8}, {3}));
  data->addBatch(batch);
  message.getImpl()->setEncryptedData(data);
  message.getImpl()->setCTileTensor(tensorOf(multiParty, {2, 4}, {2, 2}));
  auto tile = std::make_shared<CTile>(multiParty);
  Encoder(multiParty).encodeEncrypt(*tile, std::vector<double>{1, 2, 3}, 2);
  message.getImpl()->setCTile(tile);
  message.getImpl()->setProtocolId(5);
  write(dir + "/protocol_message", tag(2) + saved(message));
  write(dir + "/protocol_message_empty",
        tag(2) + saved(ProtocolMessage(multiParty, PROTOCOL_INIT, MP_INITIATOR, 0)));

  // Shapes and dimensions to encode into, on 8 slots.
  TTDim interleaved(5, 2);
  interleaved.setInterleaved(true);
  TTDim raised(3, 4);
  raised.setInterleaved(true).setInterleavedExternalSize(4);
  TTShape diagonal({2, 2, 2});
  diagonal.setOriginalSizes({4, 4, 3});
  diagonal.setDiagonalized(true);
  TTShape mixed;
  mixed.addDim(interleaved);
  mixed.addDim(TTDim(1, 4, 4));
  TTShape complexPacked;
  complexPacked.addDim(TTDim(3, 2));
  complexPacked.addDim(TTDim(6, 4, 1, false, false, true));
  const std::vector<std::pair<std::string, TTShape>> shapes = {
      {"incomplete", TTShape({2, 4})}, {"diagonal", diagonal},
      {"interleaved_duplicated", mixed}, {"complex", complexPacked}};
  for (const auto& s : shapes)
    write(dir + "/shape_" + s.first, tag(8) + saved(s.second));
  const std::vector<std::pair<std::string, TTDim>> dims = {
      {"interleaved", interleaved}, {"raised", raised}, {"plain", TTDim(9, 8)}};
  for (const auto& d : dims)
    write(dir + "/dim_" + d.first, tag(8 | 16) + saved(d.second));
}

void writeAesSeeds(const std::string& dir, const HeContext& mockup)
{
  AesKey expanded(mockup);
  expanded.heEncrypt(std::vector<uint8_t>(16, 0x5a), false);
  write(dir + "/expanded_key", tag(0) + saved(expanded));
  // A compressed key as saved (the context is too narrow to make one): its
  // fields, no round keys, then the tile of key bits.
  std::ostringstream compressed;
  SaveableHeader("AesKey", mockup.getContextId()).save(compressed);
  BinIoUtils::writeBool(compressed, true);
  BinIoUtils::writeBool(compressed, true);
  BinIoUtils::writeInt32(compressed, 128);
  BinIoUtils::writeSizeT(compressed, 0);
  BinIoUtils::writeBool(compressed, true);
  CTile bits(mockup);
  Encoder(mockup).encodeEncrypt(bits, std::vector<double>{1, 0, 1, 1, 0, 0, 1, 0}, 3);
  bits.save(compressed);
  write(dir + "/compressed_key", tag(0) + compressed.str());
  std::ostringstream roundKey;
  expanded.getRoundKeys()[0]->save(roundKey);
  write(dir + "/round_key", tag(1) + roundKey.str());
  AesBitwiseHTable element(mockup);
  element.heEncrypt({{1, 2}, {3, 4}, {5, 6}}, 2, true);
  std::ostringstream body;
  element.save(body);
  write(dir + "/table_batch", tag(2) + body.str());
  // A table of two batches of 8 slots (a largest authenticated group of 9).
  std::ostringstream table;
  SaveableHeader("AesHTable", mockup.getContextId()).save(table);
  BinIoUtils::writeBool(table, true);
  BinIoUtils::writeInt32(table, 9);
  element.save(table);
  element.save(table);
  write(dir + "/table", tag(0) + table.str());
}

void writeBootstrapCacheSeeds(const std::string& dir)
{
  const std::string corpus = std::filesystem::absolute(dir).string();
  const auto start = std::filesystem::current_path();
  const auto work = std::filesystem::temp_directory_path() / "quorvane-fuzz-seeds";
  std::filesystem::remove_all(work);
  std::filesystem::create_directories(work);
  std::filesystem::current_path(work);
  const HeContext& he = fuzz::bootstrapMockupContext();
  for (bool fft : {true, false}) {
    BootstrapCore core(he, fuzz::cacheConfig(fft, true), fuzz::bootstrapQ0());
    const std::string file = fuzz::encodingCacheFile(core.getCacheDir(), fft);
    write(corpus + (fft ? "/layers_file" : "/matrix_file"), tag(fft ? 1 : 2) + readAll(file));
    if (fft) {
      std::ostringstream layer;
      core.getFftUtils()->getEncodingLayers()[1].save(layer);
      write(corpus + "/layer", tag(0) + layer.str());
    }
  }
  std::filesystem::current_path(start);
  std::filesystem::remove_all(work);
}

} // namespace

int main(int argc, char** argv)
{
  if (argc != 3) {
    std::cerr << "usage: fuzz_seeds <fixture dir> <corpus dir>" << std::endl;
    return 2;
  }
  const std::string fixture = argv[1];
  const std::string corpus = argv[2];

  HeConfigRequirement mockupReq = HeConfigRequirement::insecure(8, 3);
  std::shared_ptr<HeContext> mockup = HeContext::create("Mockup_Mockup", mockupReq);
  HeConfigRequirement sealReq = HeConfigRequirement::insecure(8, 1, 20, 5);
  sealReq.publicFunctions.rotate = CUSTOM_ROTATIONS;
  sealReq.publicFunctions.rotationSteps = {1};
  sealReq.publicFunctions.conjugate = TRUE;
  SealCkksContext seal;
  seal.init(sealReq);
  HeConfigRequirement mpReq = HeConfigRequirement::insecure(8, 3);
  MultiPartyConfig mpConfig;
  mpConfig.participantId = 2;
  mpConfig.keyOwnersIds = {1, 2};
  mpConfig.initiatorId = 1;
  mpConfig.aggregatorId = 2;
  mpReq.multiPartyConfig = mpConfig;
  std::shared_ptr<HeContext> multiPartyMockup = HeContext::create("Mockup_Mockup", mpReq);
  std::shared_ptr<HeContext> inner1 = HeContext::create("Mockup_Mockup", mockupReq);
  std::shared_ptr<HeContext> inner2 = HeContext::create("Mockup_Mockup", mockupReq);
  DebugContext debug(*inner1, *inner2, 1e-5, false);
  write(fixture + "/mockup_context", saved(*mockup));
  write(fixture + "/seal_context", saved(seal));
  write(fixture + "/seal_secret_key", savedKey(seal, false));
  write(fixture + "/multi_party_context", saved(*multiPartyMockup));
  write(fixture + "/debug_context", saved(debug));

  PublicFunctions noKeys;
  noKeys.encrypt = false;
  noKeys.relinearize = false;
  noKeys.rotate = NO_ROTATIONS;
  noKeys.conjugate = FALSE;
  std::ostringstream keyless;
  seal.save(keyless, noKeys);
  write(corpus + "/context/mockup", saved(*mockup));
  write(corpus + "/context/seal", saved(seal));
  write(corpus + "/context/seal_keyless", keyless.str());
  write(corpus + "/context/debug", saved(debug));

  write(corpus + "/secret_key/seal", tag(0) + savedKey(seal, false));
  write(corpus + "/secret_key/seal_seed", tag(1) + savedKey(seal, true));
  write(corpus + "/secret_key/mockup", tag(2) + savedKey(*mockup, false));

  std::vector<double> values{0.5, -1, 2, 0.25};
  for (int backend = 0; backend < 3; backend++) {
    const HeContext& he = backend == 0   ? static_cast<const HeContext&>(seal)
                          : backend == 1 ? *mockup
                                         : static_cast<const HeContext&>(debug);
    const std::string name = backend == 0 ? "seal" : backend == 1 ? "mockup" : "debug";
    const int contextBits = backend == 2 ? 8 : backend;
    Encoder encoder(he);
    CTile c(he);
    encoder.encodeEncrypt(c, values, 1);
    PTile p(he);
    encoder.encode(p, values, 0);
    write(corpus + "/tile/" + name + "_ctile", tag(contextBits) + saved(c));
    write(corpus + "/tile/" + name + "_ptile", tag(contextBits) + saved(p));
    std::ostringstream cipherBody, plainBody;
    c.getImpl().save(cipherBody);
    p.getImpl().save(plainBody);
    write(corpus + "/tile/" + name + "_ciphertext", tag(contextBits | 2) + cipherBody.str());
    write(corpus + "/tile/" + name + "_plaintext", tag(contextBits | 6) + plainBody.str());
  }
  // A debug ciphertext body whose second half is empty.
  CTile firstHalf(*inner1);
  Encoder(*inner1).encodeEncrypt(firstHalf, values, 1);
  std::ostringstream halves;
  firstHalf.getImpl().save(halves);
  CTile(*inner2).getImpl().save(halves);
  write(corpus + "/tile/debug_half_empty", tag(8 | 2) + halves.str());

  // The SEAL objects, as the checked loader takes them.
  std::string sealContextBytes = saved(seal);
  std::string parms = sealBlob(seal.getEncryptionParams());
  write(corpus + "/seal_object/parameters", tag(0) + parms);
  size_t at = sealContextBytes.find(parms) + parms.size() + 12;
  const char* keys[] = {"public_key", "relin_keys", "galois_keys"};
  const int kinds[] = {1, 3, 4};
  for (int i = 0; i < 3; i++) {
    uint64_t size;
    sealContextBytes.copy(reinterpret_cast<char*>(&size), 8, at + 8);
    write(corpus + "/seal_object/" + keys[i], tag(kinds[i]) + sealContextBytes.substr(at, size));
    at += size;
  }
  std::string key = savedKey(seal, false);
  // After the secret-key record's header and its seed-only byte.
  write(corpus + "/seal_object/secret_key", tag(2) + key.substr(27));
  Encoder encoder(seal);
  CTile c(seal);
  encoder.encodeEncrypt(c, values, 1);
  std::ostringstream cipherBody;
  c.getImpl().save(cipherBody);
  write(corpus + "/seal_object/ciphertext", tag(5) + cipherBody.str());
  PTile p(seal);
  encoder.encode(p, values, 1);
  std::ostringstream plainBody;
  p.getImpl().save(plainBody);
  write(corpus + "/seal_object/plaintext", tag(6) + plainBody.str());

  HeConfigRequirement full = HeConfigRequirement::insecure(16, 6);
  full.bootstrappable = true;
  full.bootstrapConfig = BootstrapConfig();
  full.publicFunctions.rotate = CUSTOM_ROTATIONS;
  full.publicFunctions.rotationSteps = {1, -2};
  MultiPartyConfig multiParty;
  multiParty.participantId = 1;
  multiParty.keyOwnersIds = {1, 2};
  full.multiPartyConfig = multiParty;
  DoubleTensor tensor;
  tensor.init({2, 3}, {1, 2, 3, 4, 5, 6}, true);
  write(corpus + "/record/requirement", tag(0) + saved(full));
  write(corpus + "/record/public_functions", tag(1) + saved(full.publicFunctions));
  write(corpus + "/record/bootstrap_config", tag(2) + saved(*full.bootstrapConfig));
  write(corpus + "/record/multi_party_config", tag(3) + saved(multiParty));
  write(corpus + "/record/number_config",
        tag(4) + saved(NumberConfig::fixedPoint(SIZE_16_BIT, SIGNED, 5)));
  write(corpus + "/record/double_tensor", tag(5) + saved(tensor));
  TTDim interleaved(5, 2);
  interleaved.setInterleaved(true);
  interleaved.setInterleavedExternalSize(4);
  write(corpus + "/record/tt_dim", tag(6) + saved(interleaved));
  TTShape diagonal(std::vector<int>{2, 2, 1});
  diagonal.setOriginalSizes({4, 4, 3});
  diagonal.setDiagonalized(true);
  write(corpus + "/record/tt_shape", tag(7) + saved(diagonal));
  TTShape duplicated;
  duplicated.addDim(TTDim(3, 2, 1, true));
  duplicated.addDim(TTDim(1, 4, 4));
  write(corpus + "/record/tt_shape_duplicated", tag(7) + saved(duplicated));
  write(corpus + "/record/padding", tag(8) + saved(Padding2d(1, 2, 3, 4)));

  writeTensorSeeds(corpus + "/tensor", seal, *mockup, *multiPartyMockup);
  writeAesSeeds(corpus + "/aes", *mockup);
  writeBootstrapCacheSeeds(corpus + "/bootstrap_cache");
  return 0;
}
