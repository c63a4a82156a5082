#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cstdint>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "hebase/HeContext.h"
#include "hebase/NumberConfig.h"
#include "math/DataPacking.h"
#include "math/DoubleTensor.h"
#include "math/EncryptedData.h"
#include "math/aes/AesKey.h"
#include "math/aes/AesTtPacker.h"
#include "python/Bindings.h"
#include "python/ContextLifetime.h"
#include "python/NumpyUtils.h"

namespace py = pybind11;

namespace quorvane {

namespace {

std::vector<uint8_t> byteVector(const py::bytes& bytes)
{
  const std::string s = bytes;
  return std::vector<uint8_t>(s.begin(), s.end());
}

} // namespace

void initAesFunctionBindings(py::module_& m)
{
  m.def(
      "load_encrypted_data",
      [](const HeContext& context, const py::bytes& buf) {
        std::istringstream in(static_cast<std::string>(buf));
        return holdWithContext(loadEncryptedData(context, in), context);
      },
      "\n             Loads encrypted data from a buffer written by EncryptedData.save_to_buffer.\n\n"
      "             :param context: The HE context the data belongs to.\n"
      "             :param buf: The saved encrypted data.\n"
      "             :return: The loaded encrypted data.\n"
      "             :rtype: EncryptedData\n"
      "           ",
      py::arg("context"), py::arg("buf"));

  m.def(
      "prepare_default_plain_blocks_for_aes_encryption",
      [](const std::vector<NumpyArray<double>>& inputs, const NumberConfig& numberConfig) {
        std::vector<std::shared_ptr<DoubleTensor>> tensors;
        for (size_t i = 0; i < inputs.size(); ++i)
          tensors.push_back(NumpyUtils::argumentToSharedDoubleTensor(
              inputs[i], "inputs[" + std::to_string(i) + "]"));
        const std::vector<std::vector<uint8_t>> blocks =
            prepareDefaultPlainBlocksForAesEncryption(tensors, numberConfig);
        py::list res(blocks.size());
        for (size_t b = 0; b < blocks.size(); ++b) {
          py::list block(blocks[b].size());
          for (size_t i = 0; i < blocks[b].size(); ++i)
            block[i] = py::int_(blocks[b][i]);
          res[b] = block;
        }
        return res;
      },
      "\n        Arranges the given inputs, containing tensors with numbers, into\n"
      "        blocks of bytes to be encrypted under AES. Returns a deafult arrangement\n"
      "        that does not consider how the data will be packed and used after decrypting\n"
      "        the AES.\n\n"
      "        :param inputs: The inputs to arrange into blocks.\n"
      "        :param number_config: The number configuration describing the numbers.\n"
      "      ",
      py::arg("inputs"), py::arg("number_config"));

  m.def(
      "decrypt_default_aes_encrypted_blocks_under_fhe",
      [](EncryptedData& res, const std::vector<py::bytes>& encryptedBlocks, const AesKey& aesKey,
         const py::bytes& iv, const NumberConfig& numberConfig, const DataPacking& dataPacking) {
        const std::vector<uint8_t> ivBytes = byteVector(iv);
        std::vector<std::vector<uint8_t>> blocks;
        for (const py::bytes& block : encryptedBlocks)
          blocks.push_back(byteVector(block));
        decryptDefaultAesEncryptedBlocksUnderFhe(res, blocks, aesKey, ivBytes, numberConfig,
                                                 dataPacking);
      },
      "\n        Decrypts the given AES-encrypted blocks, running the AES-decryption\n"
      "        under FHE given an FHE-encrypted AES secret key. Supports the AES counter\n"
      "        (CTR) mode of operation. Assumes the original tensors of numbers were\n"
      "        arranged into blocks accoring to a default arrangement.\n\n"
      "        :param res: The result encrypted data object to populate.\n"
      "        :param encrypted_blocks: The AES-encrypted blocks.\n"
      "        :param aes_key: The AES secret key, encrypted under FHE.\n"
      "        :param iv: The counter mode initialization vector (IV), should contain 16\n"
      "                   bytes (128 bits).\n"
      "        :param number_config: The number configuration describing the numbers.\n"
      "        :param data_packing: The desired data packing to pack the numbers into.\n"
      "      ",
      py::arg("res"), py::arg("encrypted_blocks"), py::arg("aes_key"), py::arg("iv"),
      py::arg("number_config"), py::arg("data_packing"));
}

} // namespace quorvane
