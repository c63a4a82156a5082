#include <pybind11/pybind11.h>

#include <memory>
#include <unordered_set>

#include "hebase/DeviceType.h"
#include "hebase/utils/QuorvaneVersion.h"
#include "math/CTileTensor.h"
#include "math/DataPacking.h"
#include "math/PTileTensor.h"
#include "math/TileTensor.h"
#include "python/Bindings.h"
#include "python/BoundClass.h"
#include "python/ExceptionTranslation.h"
#include "python/ModuleOrder.h"
#include "python/PicklingRefusal.h"
#include "python/PythonVersion.h"
#include "python/UnconstructedObjects.h"

namespace py = pybind11;

namespace quorvane {

void declareTileTensorClasses(py::module_& m)
{
  BoundClass<TileTensor, Saveable, std::shared_ptr<TileTensor>>(m, "TileTensor");
  BoundClass<CTileTensor, TileTensor, std::shared_ptr<CTileTensor>>(m, "CTileTensor");
  BoundClass<PTileTensor, TileTensor, std::shared_ptr<PTileTensor>>(m, "PTileTensor");
}

void initModule(py::module_& m)
{
  // Library errors keep their text even where it echoes bytes that are not UTF-8.
  py::register_local_exception_translator(&translateException);
  const std::unordered_set<PyTypeObject*> registeredBefore = registeredTypes();
  // The order is part of the module's interface: bases before derived
  // classes, and argument types before the members that name them.
  m.attr("VERSION") = py::str(currentVersion.toString());
  initPrintableBindings(m);
  initPrintOptionsBindings(m);
  initSaveableBasicBindings(m);
  initSaveableBindings(m);
  initBootstrapConfigBindings(m);
  initPublicFunctionsBindings(m);
  py::enum_<DeviceType>(m, "DeviceType", "Device types for CTile/PTile compute.")
      .value("DEVICE_CPU", DEVICE_CPU)
      .value("DEVICE_GPU", DEVICE_GPU)
      .export_values();
  initHeTraitsBindings(m);
  initHeConfigRequirementBindings(m);
  initHeContextBindings(m);
  initLoadHeContextBindings(m);
  initDoubleTensorBindings(m);
  initTileBindings(m);
  initPTileBindings(m);
  initCTileBindings(m);
  initEncoderBindings(m);
  initStorageBindings(m);
  initMultiPartyConfigBindings(m);
  // The protocols take messages, their vectors, tile tensors and encrypted
  // data, all registered at later steps.
  declareProtocolMessageClasses(m);
  declareTileTensorClasses(m);
  declareEncryptedDataClass(m);
  initProtocolBindings(m);
  initProtocolMessageBindings(m);
  initTTDimBindings(m);
  initTTShapeBindings(m);
  // The tile-tensor classes, declared above, take their place here.
  for (const char* name : {"TileTensor", "CTileTensor", "PTileTensor"})
    moveToCurrentStep(m, name);
  initTileTensorBindings(m);
  initCTileTensorBindings(m);
  initPTileTensorBindings(m);
  initGenericPackingConfigBindings(m);
  initTTEncoderBindings(m);
  initEncryptedDataBindings(m);
  initNativeFunctionEvaluatorBindings(m);
  initFunctionEvaluatorBindings(m);
  initTTFunctionEvaluatorBindings(m);
  initNumberConfigBindings(m);
  // No constructor and no members: only AES decryption takes one.
  BoundClass<DataPacking, std::shared_ptr<DataPacking>>(m, "DataPacking");
  initAesKeyBindings(m);
  initAesFunctionBindings(m);
  initPadding2dBindings(m);
  initSealCkksContextBindings(m);
  initTrackingContextBindings(m);
  initMockupContextBindings(m);
  initDebugContextBindings(m);
  // Every class and enum registered above, named in the module or not, refuses
  // pickling and refuses to be used when made without its constructor.
  refusePicklingOfTypesSince(registeredBefore);
  refuseUnconstructedObjectsOfTypesSince(registeredBefore);
}

} // namespace quorvane

static PyModuleDef quorvaneModuleDef;

extern "C" PYBIND11_EXPORT PyObject* PyInit__pyquorvanelite_cppwrappers()
{
  const char* version = Py_GetVersion();
  if (!quorvane::isSupportedPythonVersion(version)) {
    PyErr_Format(PyExc_ImportError,
                 "Python version mismatch: module was compiled for Python %s, but the "
                 "interpreter version is incompatible: %s.",
                 quorvane::SUPPORTED_PYTHON_VERSION, version);
    return nullptr;
  }
  py::detail::get_internals();
  auto m = py::module_::create_extension_module("_pyquorvanelite_cppwrappers", nullptr,
                                                &quorvaneModuleDef);
  try {
    quorvane::initModule(m);
    return m.release().ptr();
  } catch (py::error_already_set& e) {
    py::raise_from(e, PyExc_ImportError, "initialization failed");
    return nullptr;
  } catch (const std::exception& e) {
    PyErr_SetString(PyExc_ImportError, e.what());
    return nullptr;
  }
}
