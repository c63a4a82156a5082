#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include "hebase/MultiPartyConfig.h"
#include "hebase/impl/MultiPartyRole.h"
#include "python/Bindings.h"
#include "python/BoundClass.h"
#include "python/Docstrings.h"

namespace py = pybind11;

namespace quorvane {

void initMultiPartyConfigBindings(py::module_& m)
{
  py::enum_<MultiPartyRole>(m, "MultiPartyRole", "Roles of participants in multi-party protocols.")
      .value("MP_KEY_OWNER", MP_KEY_OWNER)
      .value("MP_INITIATOR", MP_INITIATOR)
      .value("MP_AGGREGATOR", MP_AGGREGATOR)
      .value("MP_CIPHERTEXT_HOLDER", MP_CIPHERTEXT_HOLDER)
      .value("MP_PLAINTEXT_AGGREGATOR", MP_PLAINTEXT_AGGREGATOR)
      .export_values();

  BoundClass<MultiPartyConfig>(
      m, "MultiPartyConfig",
      QV_DOC "A configuration of the Multi-Party setup via various parameters." QV_DOC_END)
      .def(py::init<>())
      .def_readwrite("participant_id", &MultiPartyConfig::participantId,
                     "Id of this participant.")
      .def_readwrite("key_owners_ids", &MultiPartyConfig::keyOwnersIds,
                     "The IDs of the key-owners (see MultiPartyRole::MP_KEY_OWNER).")
      .def_readwrite("initiator_id", &MultiPartyConfig::initiatorId,
                     "The ID of the initiator (see MultiPartyRole::MP_INITIATOR).")
      .def_readwrite("aggregator_id", &MultiPartyConfig::aggregatorId,
                     "The ID of the aggregator (see MultiPartyRole::MP_AGGREGATOR).")
      .def("num_key_owners", &MultiPartyConfig::numKeyOwners,
           QV_DOC "Returns the number of key-owners (see MultiPartyRole::MP_KEY_OWNER)."
                  "\n" QV_DOC ":rtype: int." QV_DOC_END)
      .def("is_key_owner", &MultiPartyConfig::isKeyOwner,
           QV_DOC "Whether this participant is a key-owner (see MultiPartyRole::MP_KEY_OWNER)."
                  "\n" QV_DOC ":rtype: boolean." QV_DOC_END)
      .def("is_initiator", &MultiPartyConfig::isInitiator,
           QV_DOC "Whether this participant is the initiator (see "
                  "MultiPartyRole::MP_INITIATOR)."
                  "\n" QV_DOC ":rtype: boolean." QV_DOC_END)
      .def("is_aggregator", &MultiPartyConfig::isAggregator,
           QV_DOC "Whether this participant is the aggregator (see "
                  "MultiPartyRole::MP_AGGREGATOR)."
                  "\n" QV_DOC ":rtype: boolean." QV_DOC_END)
      .def("is_id_key_owner", &MultiPartyConfig::isIdKeyOwner,
           QV_DOC "Whether the given ID is an ID of a key-owner (seeMultiPartyRole::MP_KEY_OWNER)."
                  "\n" QV_DOC ":param id: The ID to check." QV_DOC ":type id: int." QV_DOC
                  ":rtype: boolean." QV_DOC_END,
           py::arg("id"));
}

} // namespace quorvane
