// SEAL objects read through the library's checked loader, against the
// fixture's SEAL context. The first byte modulo 7 chooses the kind:
// parameters, public key, secret key, relinearisation keys, Galois keys,
// ciphertext, plaintext.

#include "FuzzFixtures.h"

#include <seal/seal.h>

#include "hebase/seal/SealObjectLoader.h"

using namespace quorvane;

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
  fuzz::silenceOutput();
  fuzz::sealContext();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  if (size == 0)
    return 0;
  const seal::SEALContext& context = fuzz::sealContext().getSealContext();
  std::istringstream in(fuzz::bytesOf(data + 1, size - 1));
  fuzz::expectCleanLoad([&] {
    switch (data[0] % 7) {
    case 0: {
      seal::EncryptionParameters parms;
      SealObjectLoader::loadParameters(in, parms);
      break;
    }
    case 1: {
      seal::PublicKey key;
      SealObjectLoader::loadPublicKey(in, context, key);
      break;
    }
    case 2: {
      seal::SecretKey key;
      SealObjectLoader::loadSecretKey(in, context, key);
      break;
    }
    case 3: {
      seal::RelinKeys keys;
      SealObjectLoader::loadRelinKeys(in, context, keys);
      break;
    }
    case 4: {
      seal::GaloisKeys keys;
      SealObjectLoader::loadGaloisKeys(in, context, 2, keys);
      break;
    }
    case 5: {
      seal::Ciphertext ciphertext;
      SealObjectLoader::loadCiphertext(in, context, ciphertext);
      break;
    }
    default: {
      seal::Plaintext plaintext;
      SealObjectLoader::loadPlaintext(in, context, plaintext);
      break;
    }
    }
  });
  return 0;
}
