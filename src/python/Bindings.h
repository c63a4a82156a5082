#ifndef QUORVANE_PYTHON_BINDINGS_H
#define QUORVANE_PYTHON_BINDINGS_H

#include <pybind11/pybind11.h>

namespace quorvane {

// One registration function per bound family, called by the module init in
// the order of initModule.
void initPrintableBindings(pybind11::module_& m);
void initPrintOptionsBindings(pybind11::module_& m);
void initSaveableBasicBindings(pybind11::module_& m);
void initSaveableBindings(pybind11::module_& m);
void initBootstrapConfigBindings(pybind11::module_& m);
void initPublicFunctionsBindings(pybind11::module_& m);
void initHeTraitsBindings(pybind11::module_& m);
void initHeConfigRequirementBindings(pybind11::module_& m);
void initHeContextBindings(pybind11::module_& m);
void initLoadHeContextBindings(pybind11::module_& m);
void initDoubleTensorBindings(pybind11::module_& m);
void initTileBindings(pybind11::module_& m);
void initPTileBindings(pybind11::module_& m);
void initCTileBindings(pybind11::module_& m);
void initEncoderBindings(pybind11::module_& m);
void initStorageBindings(pybind11::module_& m);
void initMultiPartyConfigBindings(pybind11::module_& m);
void initProtocolBindings(pybind11::module_& m);
void initProtocolMessageBindings(pybind11::module_& m);
void initTTDimBindings(pybind11::module_& m);
void initTTShapeBindings(pybind11::module_& m);
void initTileTensorBindings(pybind11::module_& m);
void initCTileTensorBindings(pybind11::module_& m);
void initPTileTensorBindings(pybind11::module_& m);
void initGenericPackingConfigBindings(pybind11::module_& m);
void initTTEncoderBindings(pybind11::module_& m);
void initEncryptedDataBindings(pybind11::module_& m);
void initNativeFunctionEvaluatorBindings(pybind11::module_& m);
void initFunctionEvaluatorBindings(pybind11::module_& m);
void initTTFunctionEvaluatorBindings(pybind11::module_& m);
void initNumberConfigBindings(pybind11::module_& m);
void initAesKeyBindings(pybind11::module_& m);
void initAesFunctionBindings(pybind11::module_& m);
void initPadding2dBindings(pybind11::module_& m);
void initTrackingContextBindings(pybind11::module_& m);
void initMockupContextBindings(pybind11::module_& m);
void initDebugContextBindings(pybind11::module_& m);

void initSealCkksContextBindings(pybind11::module_& m);

// Classes registered ahead of their steps, for the signatures of members
// added before them (see ModuleOrder.h); their init functions add their
// members at their steps.
void declareProtocolMessageClasses(pybind11::module_& m);
void declareEncryptedDataClass(pybind11::module_& m);
void declareTileTensorClasses(pybind11::module_& m);

/// Registers everything in the module's fixed order.
void initModule(pybind11::module_& m);

} // namespace quorvane

#endif
