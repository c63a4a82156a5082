"""The Python surface of the multi-party bindings: docstrings, enumerations,
argument names and the message vector's list interface."""

import numpy as np
import pytest

import _pyquorvanelite_cppwrappers as qv
from helpers import MOCKUP

DOC = "\n             "
DOC_END = "\n           "


def doc(*lines):
    """A docstring in the multi-line layout; None stands for the empty line
    between a description and the field lines."""
    return "".join("\n" if line is None else DOC + line for line in lines) + DOC_END


def participant(pid, key_owners=(1, 2), initiator=1, aggregator=1):
    cfg = qv.MultiPartyConfig()
    cfg.participant_id = pid
    cfg.key_owners_ids = list(key_owners)
    cfg.initiator_id = initiator
    cfg.aggregator_id = aggregator
    req = qv.HeConfigRequirement.insecure(8, 3)
    req.set_multi_party_config(cfg)
    return qv.HeContext.create(MOCKUP, req)


PLAINTEXT_AGGREGATOR_ID = ("Returns the ID of the plaintext-aggregator for the next run of the "
                           "protocol (see MultiPartyRole::MP_PLAINTEXT_AGGREGATOR).")

METHOD_DOCS = [
    (qv.MultiPartyConfig.num_key_owners, doc(
        "Returns the number of key-owners (see MultiPartyRole::MP_KEY_OWNER).", None,
        ":rtype: int.")),
    (qv.MultiPartyConfig.is_key_owner, doc(
        "Whether this participant is a key-owner (see MultiPartyRole::MP_KEY_OWNER).", None,
        ":rtype: boolean.")),
    (qv.MultiPartyConfig.is_initiator, doc(
        "Whether this participant is the initiator (see MultiPartyRole::MP_INITIATOR).", None,
        ":rtype: boolean.")),
    (qv.MultiPartyConfig.is_aggregator, doc(
        "Whether this participant is the aggregator (see MultiPartyRole::MP_AGGREGATOR).", None,
        ":rtype: boolean.")),
    (qv.MultiPartyConfig.is_id_key_owner, doc(
        "Whether the given ID is an ID of a key-owner (seeMultiPartyRole::MP_KEY_OWNER).", None,
        ":param id: The ID to check.", ":type id: int.", ":rtype: boolean.")),
    (qv.Protocol.execute_next_round, doc(
        "Execute the next round of this protocol and generate output messages for the next "
        "round for all parties.", None,
        ":param output_messages: The output messages of the round.",
        ":type output_messages: Vector of ProtocolMessage objects.",
        ":param input_messages: The input messages for the round.",
        ":type input_messages: Vector of ProtocolMessage objects.",
        ":return: A boolean value indicates whether the protocol received all the needed "
        "messages to execute the next round successfully.",
        ":rtype: bool.")),
    (qv.Protocol.needs_another_round, doc(
        ":return: Returns true iff this protocol needs another round.", ":rtype: bool.")),
    (qv.Protocol.get_current_round, doc(
        ":return: Returns the current round number.", ":rtype: int.")),
    (qv.Protocol.get_total_number_of_rounds, doc(
        ":return: Returns the total number of rounds in the protocol.", ":rtype: int.")),
    (qv.Protocol.get_roles, doc(
        ":return: Returns the roles in the protocol of the current participant.",
        ":rtype: Set of integers.")),
    (qv.Protocol.is_role, doc(
        ":param role: The role to check.", ":type role: MultiPartyRole.",
        ":return: Return true if the current participant has the given role in the protocol.",
        ":rtype: bool.")),
    (qv.Protocol.is_input_message_valid_for_current_round, doc(
        ":param input_message: The input message to check.",
        ":type input_message: ProtocolMessage.",
        ":return: Returns true if the given message is a valid input message for the current "
        "round (e.g., that the destination role of the message matches the role of the "
        "current participant).",
        ":rtype: bool.")),
    (qv.Protocol.get_protocol_type, doc(
        ":return: Returns the protocol type of this protocol.", ":rtype: ProtocolType.")),
    (qv.Protocol.set_verbosity, doc(
        "Sets the verbosity level.", None, ":param verbosity: The verbosity level.",
        ":type verbosity: Verbosity.")),
    (qv.InitProtocol.__init__, doc(
        "Constructor for InitProtocol.", None, ":param he: The heContext.")),
    (qv.DecryptProtocol.__init__, doc(
        "Constructor for DecryptProtocol.", None, ":param he: The heContext.")),
    (qv.DecryptProtocol.get_plaintext_aggregator_id, doc(
        ":return: " + PLAINTEXT_AGGREGATOR_ID, ":rtype: int.")),
    (qv.DecryptProtocol.get_output_vector_double, doc(
        "Get the decrypted output. Should be used only if the input was set using "
        "set_input(CTile).", None, ":return: The decrypted output.", ":rtype: numpy.array.")),
    (qv.ProtocolMessage.__init__, doc(
        "Construct an empty ProtocolMessage.", None, ":param he: The heContext.")),
    (qv.ProtocolMessage.get_protocol_type, doc(
        "Get the protocol type of the protocol of this message.", None,
        ":return: The protocol type.", ":rtype: ProtocolType.")),
    (qv.ProtocolMessage.get_source_participant_id, doc(
        "Get the source participant ID of this message.", None,
        ":return: The source participant ID.", ":rtype: int.")),
    (qv.ProtocolMessage.get_destination_role, doc(
        "Get the destination role of this message.", None, ":return: The destination role.",
        ":rtype: MultiPartyRole.")),
    (qv.ProtocolMessage.get_to_be_received_on_round, doc(
        "Get the round number in which this message is to be received by the destination.",
        None, ":return: The round number.", ":rtype: int.")),
]


@pytest.mark.parametrize("member,expected", METHOD_DOCS,
                         ids=[m.__qualname__ for m, _ in METHOD_DOCS])
def test_method_docstrings(member, expected):
    signature, rest = member.__doc__.split("\n", 1)
    assert signature.startswith(member.__name__ + "(")
    assert rest == "\n" + expected + "\n"


M = "_pyquorvanelite_cppwrappers."


@pytest.mark.parametrize("member, signatures", [
    (qv.Protocol.execute_next_round, [
        "execute_next_round(self: {m}Protocol, output_messages: {m}ProtocolMessageVector, "
        "input_messages: {m}ProtocolMessageVector) -> bool"]),
    (qv.Protocol.is_input_message_valid_for_current_round, [
        "is_input_message_valid_for_current_round(self: {m}Protocol, input_message: "
        "{m}ProtocolMessage) -> bool"]),
    (qv.DecryptProtocol.set_input, [
        "1. set_input(self: {m}DecryptProtocol, input: {m}EncryptedData) -> None",
        "2. set_input(self: {m}DecryptProtocol, input: {m}CTileTensor) -> None",
        "3. set_input(self: {m}DecryptProtocol, input: {m}CTile) -> None"]),
])
def test_protocol_signatures_name_the_python_classes(member, signatures):
    # The classes are registered after the protocols; their names must not be
    # the library's.
    lines = member.__doc__.splitlines()
    for signature in signatures:
        assert signature.format(m=M) in lines
    assert "quorvane::" not in member.__doc__ and "std::" not in member.__doc__


def test_execute_next_round_refuses_lists_naming_the_vector_type():
    protocol = qv.InitProtocol(participant(1))
    with pytest.raises(TypeError) as info:
        protocol.execute_next_round([], [])
    assert ("output_messages: {m}ProtocolMessageVector, input_messages: "
            "{m}ProtocolMessageVector) -> bool".format(m=M)) in str(info.value)
    assert "std::" not in str(info.value)


def test_class_and_property_docstrings():
    assert qv.Protocol.__doc__ == \
        doc("A Protocol for Multi-Party operations between multiple parties.")
    assert qv.InitProtocol.__doc__ == doc("Protocol for initialization of multi-party setting.")
    assert qv.DecryptProtocol.__doc__ == doc("Protocol for multi-party decryption.")
    assert qv.ProtocolMessageVector.__doc__ == "A vector (list) of ProtocolMessage objects."
    properties = {
        "participant_id": "Id of this participant.",
        "key_owners_ids": "The IDs of the key-owners (see MultiPartyRole::MP_KEY_OWNER).",
        "initiator_id": "The ID of the initiator (see MultiPartyRole::MP_INITIATOR).",
        "aggregator_id": "The ID of the aggregator (see MultiPartyRole::MP_AGGREGATOR).",
    }
    for name, text in properties.items():
        assert getattr(qv.MultiPartyConfig, name).__doc__ == text
    # The free-text lines: a description, the id's parameter and type lines.
    lines = qv.DecryptProtocol.set_plaintext_aggregator_id.__doc__.split("\n", 2)[2]
    assert lines.startswith(DOC + "Sets the ID of the plaintext-aggregator for the next run of "
                            "the protocol (see MultiPartyRole::MP_PLAINTEXT_AGGREGATOR).\n" +
                            DOC + ":param id: ")
    assert lines.endswith(DOC + ":type id: int." + DOC_END + "\n")


@pytest.mark.parametrize("enum,members,docstring", [
    (qv.MultiPartyRole, ["MP_KEY_OWNER", "MP_INITIATOR", "MP_AGGREGATOR",
                         "MP_CIPHERTEXT_HOLDER", "MP_PLAINTEXT_AGGREGATOR"],
     "Roles of participants in multi-party protocols."),
    (qv.ProtocolType, ["PROTOCOL_INIT", "PROTOCOL_DECRYPT"],
     "An enum specifying the protocol type."),
])
def test_enumerations(enum, members, docstring):
    assert enum.__doc__.startswith(docstring)
    assert list(enum.__members__) == members
    for value, name in enumerate(members):
        member = getattr(enum, name)
        assert getattr(qv, name) is member
        assert member == value and int(member) == value and hash(member) == hash(value)
        assert enum(value=value) == member and member.name == name
        with pytest.raises(TypeError):
            member < member
        with pytest.raises(TypeError):
            member & member
        with pytest.raises(TypeError):
            member + 1


def test_execute_next_round_by_keyword():
    holder = participant(2)
    protocol = qv.DecryptProtocol(holder)
    protocol.set_plaintext_aggregator_id(id=1)
    protocol.set_input(input=qv.Encoder(holder).encode_encrypt(np.ones(8)))
    outputs, inputs = qv.ProtocolMessageVector(), qv.ProtocolMessageVector()
    # Named in the other order, the names decide which vector is filled.
    assert protocol.execute_next_round(input_messages=inputs, output_messages=outputs) is True
    assert (len(outputs), len(inputs)) == (1, 0)
    assert outputs[0].get_destination_role() == qv.MP_KEY_OWNER
    assert protocol.is_input_message_valid_for_current_round(input_message=outputs[0]) is False
    assert protocol.is_role(role=qv.MP_CIPHERTEXT_HOLDER) is True


def test_message_vector_list_interface():
    he = participant(1)
    messages = [qv.ProtocolMessage(he) for _ in range(3)]
    vec = qv.ProtocolMessageVector(messages)
    for name in ("count", "remove", "__contains__"):
        assert not hasattr(vec, name)
    # The list type's own iterator: typed by the item class, with no text of its own.
    assert qv.ProtocolMessageVector.__iter__.__doc__ == (
        "__iter__(self: _pyquorvanelite_cppwrappers.ProtocolMessageVector) -> "
        "Iterator[_pyquorvanelite_cppwrappers.ProtocolMessage]\n")
    assert len(vec[0:2]) == 2 and isinstance(vec[0:2], qv.ProtocolMessageVector)
    del vec[0:2]
    vec.extend(messages)
    vec.insert(0, messages[0])
    assert len(vec) == 5 and isinstance(vec.pop(), qv.ProtocolMessage) and len(vec) == 4
    # A copy holds its own messages: it outlives the clearing of the source.
    copy = qv.ProtocolMessageVector(vec)
    vec.clear()
    assert not vec and len(copy) == 4
    assert [m.get_metadata_as_string(True) for m in copy] == \
        ["source_id_0_dest_role_KEY-OWNER_protocol_type_INIT_for_round_0_"] * 4


@pytest.mark.parametrize("items, index, kind", [
    (lambda he, m: [1, 2], 0, "int"),
    (lambda he, m: [m, "abc"], 1, "str"),
    (lambda he, m: [m, None], 1, "NoneType"),
    (lambda he, m: [m, qv.Encoder(he)], 1, "Encoder"),
])
def test_message_vector_refuses_items_that_are_no_messages(items, index, kind):
    he = participant(1)
    message = qv.ProtocolMessage(he)
    expected = ("Cannot put item %d of type %s into a ProtocolMessageVector: expected a "
                "ProtocolMessage" % (index, kind))
    with pytest.raises(TypeError) as info:
        qv.ProtocolMessageVector(items(he, message))
    assert str(info.value) == expected
    vec = qv.ProtocolMessageVector([message])
    with pytest.raises(TypeError) as info:
        vec.extend(items(he, message))
    assert str(info.value) == expected
    assert len(vec) == 1


def test_one_vector_cannot_be_both_outputs_and_inputs():
    he = participant(2)
    protocol = qv.DecryptProtocol(he)
    protocol.set_plaintext_aggregator_id(1)
    inbox = qv.ProtocolMessageVector([qv.ProtocolMessage(he)])
    with pytest.raises(ValueError, match="^AbstractProtocol::executeNextRound - the output "
                       "messages and the input messages must be two different vectors.$"):
        protocol.execute_next_round(inbox, inbox)
    assert len(inbox) == 1 and protocol.get_current_round() == 1


def test_message_vector_items_outlive_changes_of_the_vector():
    he = participant(2)
    protocol = qv.DecryptProtocol(he)
    protocol.set_plaintext_aggregator_id(1)
    protocol.set_input(qv.Encoder(he).encode_encrypt(np.ones(8)))
    sent = qv.ProtocolMessageVector()
    protocol.execute_next_round(sent, qv.ProtocolMessageVector())
    saved = sent[0].save_to_buffer()
    vec = qv.ProtocolMessageVector([qv.ProtocolMessage(he)])
    held = vec[0]
    iterated = next(iter(vec))
    assert held.get_metadata_as_string(True) != sent[0].get_metadata_as_string(True)
    # An item shares its message with the vector: a load through it shows in the vector.
    held.load_from_buffer(saved)
    assert vec[0].get_metadata_as_string(True) == held.get_metadata_as_string(True)
    # Growing (reallocating) and clearing the vector leaves the held items valid.
    vec.extend([qv.ProtocolMessage(he) for _ in range(64)])
    vec.clear()
    del vec
    assert held.save_to_buffer() == saved
    assert iterated.get_metadata_as_string(True) == held.get_metadata_as_string(True)
