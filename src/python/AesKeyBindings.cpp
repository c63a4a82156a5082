#include <pybind11/pybind11.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "hebase/HeContext.h"
#include "math/aes/AesKey.h"
#include "python/Bindings.h"
#include "python/BoundClass.h"
#include "python/ContextLifetime.h"

namespace py = pybind11;

namespace quorvane {

void initAesKeyBindings(py::module_& m)
{
  BoundClass<AesKey, Saveable, std::shared_ptr<AesKey>>(m, "AesKey", R"(
          A class to hold the AES secret key encrypted under FHE, required for
          decryption of AES ciphertexts under FHE.
           )")
      .def(py::init([](const HeContext& he) {
             return holdWithContext(std::make_shared<AesKey>(he), he);
           }),
           R"(
             Construct a new AES key object.

             :param he: The HE context.
           )",
           py::arg("he"))
      .def(
          "he_encrypt",
          [](AesKey& self, const py::bytes& plainKey, bool compress) {
            const std::string bytes = plainKey;
            self.heEncrypt(std::vector<uint8_t>(bytes.begin(), bytes.end()), compress);
          },
          R"(
            Encrypt the given plaintext AES key under FHE.

            :param plain_key: The plaintext AES key, of size 128, 192 or 256 bits (16, 24
                              or 32 bytes, respectively).
            :param compress: Whether to store the key in a compressed fashion
                             (recommended). This will result in much smaller object
                             when saving to binary, but will require more time to
                             uncompress when loading the key.
           )",
          py::arg("plain_key"), py::arg("compress") = true);
}

} // namespace quorvane
