#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "hebase/NumberConfig.h"
#include "math/DoubleTensor.h"
#include "math/aes/AesTtPacker.h"
#include "python/Bindings.h"
#include "python/NumpyUtils.h"

namespace py = pybind11;

namespace quorvane {

void initAesFunctionBindings(py::module_& m)
{
  m.def(
      "prepare_default_plain_blocks_for_aes_encryption",
      [](const std::vector<NumpyArray<double>>& inputs, const NumberConfig& numberConfig) {
        std::vector<std::shared_ptr<DoubleTensor>> tensors;
        for (const NumpyArray<double>& input : inputs)
          tensors.push_back(NumpyUtils::toSharedDoubleTensor(input));
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
}

} // namespace quorvane
