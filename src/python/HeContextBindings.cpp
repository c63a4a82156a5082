#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "hebase/HeConfigRequirement.h"
#include "hebase/HeContext.h"
#include "hebase/HeTraits.h"
#include "hebase/PublicFunctions.h"
#include "python/Bindings.h"
#include "python/BoundClass.h"
#include "python/NumpyUtils.h"

namespace py = pybind11;

namespace quorvane {

void initHeContextBindings(py::module_& m)
{
  BoundClass<HeContext, Printable, std::shared_ptr<HeContext>>(m, "HeContext", R"(
        An abstract main class representing an underlying HE library & scheme,
        configured, initialized and ready to work.

        It bundles the data structures needed for HE operations, including the
        keys: a public/private key pair allowing every operation, or only the
        public key, allowing everything but decryption.

        It is the input of the constructors of many other classes, e.g.:
        CTile c(he);

        It also answers queries about the underlying scheme and library.
        )")
      .def_static(
          "create",
          [](const std::string& contextName, const HeConfigRequirement& req) {
            return HeContext::create(contextName, req);
          },
          R"(
            Creates and returns an initialized context given a registered
            context name and a configuration requirement.

            :param context_name: The registered name of the context, e.g. "Mockup_Mockup".
            :type context_name: str
            :param req: The configuration the context must meet.
            :type req: HeConfigRequirement
            :return: The initialized context.
            :rtype: HeContext
            :raises RuntimeError: If no context is registered under the name,
                                  or the requirement cannot be met.
            )",
          py::arg("context_name"), py::arg("req"))
      .def_static(
          "create",
          [](const std::vector<std::string>& prioritizedContextNames) {
            return HeContext::create(prioritizedContextNames);
          },
          R"(
            Returns an uninitialized context of the first name in the list that
            is registered (the list is in order of preference, highest first).

            :param prioritized_context_names: Context names in order of preference.
            :type prioritized_context_names: List[str]
            :return: An uninitialized context.
            :rtype: HeContext
            :raise ValueError: If no matching context is found.
            )",
          py::arg("prioritized_context_names"))
      .def("clone", &HeContext::clone, R"(
            Returns an uninitialized context of the same type.

            :rtype: HeContext
            )")
      .def("init_for_generic_packing", &HeContext::initForGenericPacking, R"(
            Initializes the context with a configuration suitable for generic packing.

            :param light: Asks for a lighter context with a smaller multiplication depth.
            :type light: bool
            :raises RuntimeError: If no such configuration is feasible for this context.
            )",
           py::arg("light") = false)
      .def("has_secret_key", &HeContext::hasSecretKey, R"(
            Returns whether this context holds a secret key. Without one,
            decryption and operations relying on it throw.

            :rtype: bool
            )")
      .def("slot_count", &HeContext::slotCount, R"(
            Returns the number of slots in each CTile or PTile of this context.

            :rtype: int
            )")
      .def("get_context_id", &HeContext::getContextId, R"(
            Returns the id of this context, identifying its key set.

            :rtype: int
            )")
      .def("get_top_chain_index", &HeContext::getTopChainIndex, R"(
            Returns the highest available chain index, where the scheme has one.

            :rtype: int
            )")
      .def("get_security_level", &HeContext::getSecurityLevel, R"(
            Returns the security level supplied by this context.

            :rtype: int
            )")
      .def(
          "print_signature",
          [](const HeContext& he) {
            std::ostringstream out;
            he.printSignature(out);
            return out.str();
          },
          R"(
            Returns a summary of this context: version, library and scheme,
            context id and whether it holds a secret key.

            :rtype: str
            )")
      .def(
          "get_modulus_chain",
          [](const HeContext& he) { return NumpyUtils::fromVector(*he.getModulusChain()); },
          R"(
            Returns the value of each prime of the modulus chain, where applicable.

            :rtype: numpy.ndarray[numpy.uint64]
            :raises RuntimeError: If the context has no modulus chain.
            )")
      .def(
          "get_traits", [](const HeContext& he) { return HeTraits(he.getTraits()); },
          R"(
            Returns a copy of the traits of this context.

            :rtype: HeTraits
            )")
      .def(
          "save_secret_key_to_file",
          [](const HeContext& he, const std::string& fileName, bool seedOnly) {
            he.saveSecretKeyToFile(fileName, seedOnly);
          },
          R"(
            Saves the secret key to a file, or only the seed that generates it.

            :param file_name: The file to write.
            :type file_name: str
            :param seed_only: Save only the seed of the secret key.
            :type seed_only: bool
            :raises RuntimeError: If the context has no secret key.
            )",
          py::arg("file_name"), py::arg("seed_only") = false)
      .def(
          "load_secret_key_from_file",
          [](HeContext& he, const std::string& fileName, bool seedOnly) {
            he.loadSecretKeyFromFile(fileName, seedOnly);
          },
          R"(
            Loads the secret key from a file, or loads the seed and generates
            the key from it.

            :param file_name: The file to read.
            :type file_name: str
            :param seed_only: The file holds only the seed of the secret key.
            :type seed_only: bool
            :raises RuntimeError: If the context already has a secret key.
            )",
          py::arg("file_name"), py::arg("seed_only") = false)
      .def("get_default_device", &HeContext::getDefaultDevice, R"(
            Returns the device of new ciphertexts and plaintexts.

            :rtype: DeviceType
            )")
      .def("set_default_device", &HeContext::setDefaultDevice, R"(
            Sets the device of new ciphertexts and plaintexts.

            :param device: The device.
            :type device: DeviceType
            )",
           py::arg("device"))
      .def("get_default_scale", &HeContext::getDefaultScale, R"(
            Returns the default scale used in encoding, where applicable.

            :rtype: float
            )")
      .def("set_default_scale", &HeContext::setDefaultScale, R"(
            Sets the default scale used in encoding, where applicable.

            :param v: The scale.
            :type v: float
            )",
           py::arg("v"))
      .def("get_automatic_bootstrapping", &HeContext::getAutomaticBootstrapping, R"(
            Returns the value of the automatic-bootstrapping flag.

            :rtype: bool
            )")
      .def("set_automatic_bootstrapping", &HeContext::setAutomaticBootstrapping, R"(
            When true, ciphertexts of this context are bootstrapped automatically
            when needed.

            :param v: The flag.
            :type v: bool
            :raises RuntimeError: If true and the context is not bootstrappable.
            )",
           py::arg("v"))
      .def("get_signature", &HeContext::getSignature, R"(
            Returns a text that distinguishes this context enough to load
            stored contexts by it.

            :rtype: str
            )")
      .def(
          "save_secret_key",
          [](const HeContext& he, bool seedOnly) {
            std::ostringstream out;
            he.saveSecretKey(out, seedOnly);
            return py::bytes(out.str());
          },
          R"(
            Returns the secret key, or only the seed that generates it, in a buffer.

            :param seed_only: Save only the seed of the secret key.
            :type seed_only: bool
            :rtype: bytes
            :raises RuntimeError: If the context has no secret key, or seed_only
                                  is set and the context cannot save by seed.
            )",
          py::arg("seed_only") = false)
      .def(
          "load_secret_key",
          [](HeContext& he, const py::bytes& buf, bool seedOnly) {
            std::istringstream in(static_cast<std::string>(buf));
            he.loadSecretKey(in, seedOnly);
          },
          R"(
            Loads the secret key, or its seed, from a buffer written by save_secret_key.

            :param buf: The saved secret key.
            :type buf: bytes
            :param seed_only: The buffer holds only the seed of the secret key.
            :type seed_only: bool
            :raises RuntimeError: If the context already has a secret key, or
                                  seed_only is set and seeds are not supported.
            )",
          py::arg("buf"), py::arg("seed_only") = false)
      .def("get_library_name", &HeContext::getLibraryName, R"(
            Returns the name of the underlying library.

            :rtype: str
            )")
      .def("get_scheme_name", &HeContext::getSchemeName, R"(
            Returns the name of the underlying scheme.

            :rtype: str
            )")
      .def(
          "save_to_file",
          [](const HeContext& he, const std::string& fileName) { return he.saveToFile(fileName); },
          R"(
            Saves this context in binary form, with the public keys of its own
            public functions.

            :param file_name: The file to write.
            :type file_name: str
            :return: The number of bytes written.
            :rtype: int
            )",
          py::arg("file_name"))
      .def(
          "save_to_file",
          [](const HeContext& he, const std::string& fileName,
             const PublicFunctions& publicFunctions) {
            return he.saveToFile(fileName, publicFunctions);
          },
          R"(
            Saves this context in binary form, with only the public keys that
            the given public functions select.

            :param file_name: The file to write.
            :type file_name: str
            :param public_functions: The public keys to save.
            :type public_functions: PublicFunctions
            :return: The number of bytes written.
            :rtype: int
            )",
          py::arg("file_name"), py::arg("public_fuctions"))
      .def("load_from_file", &HeContext::loadFromFile, R"(
            Loads this (uninitialized) context from a file written by save_to_file.

            :param file_name: The file to read.
            :type file_name: str
            :return: The number of bytes read.
            :rtype: int
            )",
           py::arg("file_name"))
      .def(
          "save_to_buffer",
          [](const HeContext& he) {
            std::ostringstream out;
            he.save(out);
            return py::bytes(out.str());
          },
          R"(
            Saves this HeContext into a buffer.

            :rtype: bytes
            )")
      .def(
          "save_to_buffer",
          [](const HeContext& he, const PublicFunctions& publicFunctions) {
            std::ostringstream out;
            he.save(out, publicFunctions);
            return py::bytes(out.str());
          },
          R"(
            Saves this HeContext into a buffer, with only the public keys that
            the given public functions select.

            :param public_functions: The public keys to save.
            :type public_functions: PublicFunctions
            :rtype: bytes
            )",
          py::arg("public_functions"))
      .def(
          "load_from_buffer",
          [](HeContext& he, const py::bytes& buf) {
            std::istringstream in(static_cast<std::string>(buf));
            he.load(in);
          },
          R"(
            Loads this (uninitialized) context from a buffer written by save_to_buffer.

            :param buf: The saved context.
            :type buf: bytes
            )",
          py::arg("buf"))
      .def("public_functions_supported", &HeContext::publicFunctionsSupported, R"(
            Returns whether this context supports the given public functions.

            :param public_functions: The public functions.
            :type public_functions: PublicFunctions
            :rtype: bool
            )",
           py::arg("public_functions"))
      .def(
          "get_public_functions",
          [](const HeContext& he) { return PublicFunctions(he.getPublicFunctions()); },
          R"(
            Returns a copy of the functionalities supported by the public keys
            of this context.

            :rtype: PublicFunctions
            )")
      .def(
          "get_he_config_requirement",
          [](const HeContext& he) { return HeConfigRequirement(he.getHeConfigRequirement()); },
          R"(
            Returns a copy of the configuration requirement in use: the one given
            at initialization, completed by the context.

            :rtype: HeConfigRequirement
            )")
      .def_static("is_registered_context", &HeContext::isRegisteredContext, R"(
            Returns whether a context is registered under the given name.

            :param context_name: The name, e.g. "Mockup_Mockup".
            :type context_name: str
            :rtype: bool
            )",
                  py::arg("context_name"));
}

} // namespace quorvane
