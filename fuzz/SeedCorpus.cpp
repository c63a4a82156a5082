// Writes the fixture (saved contexts and secret key) and a seed corpus of
// valid records for each fuzz target:
//   fuzz_seeds <fixture dir> <corpus dir>
// makes <corpus dir>/<target>/<seed> files; the directories must exist.

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
#include "hebase/seal/SealCkksContext.h"
#include "math/DoubleTensor.h"

using namespace quorvane;

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
  write(fixture + "/mockup_context", saved(*mockup));
  write(fixture + "/seal_context", saved(seal));
  write(fixture + "/seal_secret_key", savedKey(seal, false));

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

  write(corpus + "/secret_key/seal", tag(0) + savedKey(seal, false));
  write(corpus + "/secret_key/seal_seed", tag(1) + savedKey(seal, true));
  write(corpus + "/secret_key/mockup", tag(2) + savedKey(*mockup, false));

  std::vector<double> values{0.5, -1, 2, 0.25};
  for (int backend = 0; backend < 2; backend++) {
    const HeContext& he = backend == 0 ? static_cast<const HeContext&>(seal) : *mockup;
    const std::string name = backend == 0 ? "seal" : "mockup";
    Encoder encoder(he);
    CTile c(he);
    encoder.encodeEncrypt(c, values, 1);
    PTile p(he);
    encoder.encode(p, values, 0);
    write(corpus + "/tile/" + name + "_ctile", tag(backend) + saved(c));
    write(corpus + "/tile/" + name + "_ptile", tag(backend) + saved(p));
    std::ostringstream cipherBody, plainBody;
    c.getImpl().save(cipherBody);
    p.getImpl().save(plainBody);
    write(corpus + "/tile/" + name + "_ciphertext", tag(backend | 2) + cipherBody.str());
    write(corpus + "/tile/" + name + "_plaintext", tag(backend | 6) + plainBody.str());
  }

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
  return 0;
}
