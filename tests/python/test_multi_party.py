"""Multi-party configuration, roles, protocols and messages, with every message
moved between the participants as bytes, as separate processes would."""

import gc

import numpy as np
import pytest

import _pyquorvanelite_cppwrappers as qv
from helpers import (MOCKUP, DictHandler, interleaved, rand, run_python, saved_tensor_data,
                     shape_of)

SLOTS = 8
DOC = "\n             "
DOC_END = "\n           "


# ---------------------------------------------------------------- participants

def config(participant, key_owners, initiator, aggregator):
    cfg = qv.MultiPartyConfig()
    cfg.participant_id = participant
    cfg.key_owners_ids = key_owners
    cfg.initiator_id = initiator
    cfg.aggregator_id = aggregator
    return cfg


def context(cfg):
    req = qv.HeConfigRequirement.insecure(SLOTS, 3)
    req.set_multi_party_config(cfg)
    return qv.HeContext.create(MOCKUP, req)


class Party:
    def __init__(self, pid, key_owners, initiator, aggregator):
        self.id = pid
        self.he = context(config(pid, key_owners, initiator, aggregator))
        self.protocol = None
        self.inbox = qv.ProtocolMessageVector()


def parties(ids, key_owners=(1, 2, 3), initiator=1, aggregator=1):
    return [Party(pid, list(key_owners), initiator, aggregator) for pid in ids]


def run_round(group):
    """One round everywhere; every output is saved by its sender and loaded by
    each other participant that holds its destination role. A participant whose
    round is incomplete keeps its inbox."""
    sent = []
    results = []
    for p in group:
        out = qv.ProtocolMessageVector()
        done = p.protocol.execute_next_round(out, p.inbox)
        results.append(done)
        if done:
            p.inbox = qv.ProtocolMessageVector()
        sent.append((p, [m.save_to_buffer() for m in out]))
    for sender, buffers in sent:
        for buf in buffers:
            for receiver in group:
                if receiver is sender:
                    continue
                msg = qv.ProtocolMessage(receiver.he)
                msg.load_from_buffer(buf)
                if receiver.protocol.is_role(msg.get_destination_role()):
                    receiver.inbox.append(msg)
    return results


def run_all(group):
    for _ in range(group[0].protocol.get_total_number_of_rounds()):
        assert run_round(group) == [True] * len(group)
    assert not any(p.protocol.needs_another_round() for p in group)


def init_all(group):
    for p in group:
        p.protocol = qv.InitProtocol(p.he)
    run_all(group)


def decrypt_protocols(group, aggregator_id):
    for p in group:
        p.protocol = qv.DecryptProtocol(p.he)
        p.protocol.set_plaintext_aggregator_id(aggregator_id)


def encrypted(he, values):
    return qv.Encoder(he).encode_encrypt([float(v) for v in values])


def by_id(group, pid):
    return next(p for p in group if p.id == pid)


def invalid(error, source, role, ptype, rnd):
    return ("The given message is invalid.\n Error message: " + error +
            "\nMessage metadata:\nSource ID: %d\nDestination role: %s\nProtocol type: %s"
            "\nTo be received on round #: %d" % (source, role, ptype, rnd))


# ---------------------------------------------------------------- configuration and roles

def test_multi_party_config_fields_and_queries():
    cfg = qv.MultiPartyConfig()
    assert (cfg.participant_id, cfg.key_owners_ids, cfg.initiator_id, cfg.aggregator_id) == \
        (-1, [], 0, 0)
    assert cfg.num_key_owners() == 0
    assert (cfg.is_key_owner(), cfg.is_initiator(), cfg.is_aggregator()) == (False, False, False)
    cfg.participant_id = 0
    assert cfg.is_initiator() is True and cfg.is_aggregator() is True
    cfg.key_owners_ids = (3, 1, 3)
    assert cfg.num_key_owners() == 3
    assert cfg.is_id_key_owner(3) is True and cfg.is_id_key_owner(id=2) is False
    assert cfg.key_owners_ids == [3, 1, 3]
    cfg.key_owners_ids.append(5)
    assert cfg.key_owners_ids == [3, 1, 3]
    for name, value in [("key_owners_ids", "13"), ("participant_id", 2 ** 31),
                        ("initiator_id", 1.0)]:
        old = getattr(cfg, name)
        with pytest.raises(TypeError):
            setattr(cfg, name, value)
        assert getattr(cfg, name) == old
    assert not isinstance(cfg, qv.Printable)


def test_multi_party_config_docstrings():
    assert qv.MultiPartyConfig.__doc__ == \
        DOC + "A configuration of the Multi-Party setup via various parameters." + DOC_END
    assert qv.MultiPartyConfig.participant_id.__doc__ == "Id of this participant."
    assert qv.MultiPartyConfig.initiator_id.__doc__ == \
        "The ID of the initiator (see MultiPartyRole::MP_INITIATOR)."
    assert qv.MultiPartyConfig.is_id_key_owner.__doc__.endswith(
        DOC + "Whether the given ID is an ID of a key-owner (seeMultiPartyRole::MP_KEY_OWNER)."
        "\n" + DOC + ":param id: The ID to check." + DOC + ":type id: int." + DOC +
        ":rtype: boolean." + DOC_END + "\n")


def test_role_and_type_enumerations():
    assert qv.MP_AGGREGATOR == 2 and int(qv.MP_PLAINTEXT_AGGREGATOR) == 4
    assert qv.MultiPartyRole(1) == qv.MP_INITIATOR
    assert qv.MP_CIPHERTEXT_HOLDER is qv.MultiPartyRole.MP_CIPHERTEXT_HOLDER
    assert hash(qv.MP_KEY_OWNER) == hash(0)
    assert qv.PROTOCOL_INIT == 0 and qv.PROTOCOL_DECRYPT == 1
    with pytest.raises(TypeError):
        qv.MP_KEY_OWNER < qv.MP_INITIATOR
    with pytest.raises(TypeError):
        qv.MP_KEY_OWNER | qv.MP_INITIATOR
    assert qv.MultiPartyRole.__doc__.startswith("Roles of participants in multi-party protocols.")


# ---------------------------------------------------------------- protocols end to end

def test_init_then_decrypt_with_three_key_owners_through_bytes():
    group = parties([1, 2, 3], initiator=2, aggregator=3)
    start = group[0].he.get_context_id()
    init_all(group)
    ids = {p.he.get_context_id() for p in group}
    assert len(ids) == 1 and ids != {start}

    values = np.array([0.5, -1.25, 2.0, 3.5, -4.0, 5.75, 6.0, -7.5])
    decrypt_protocols(group, 3)
    holder = by_id(group, 1)
    holder.protocol.set_input(encrypted(holder.he, values))
    assert holder.protocol.is_role(qv.MP_CIPHERTEXT_HOLDER)
    run_all(group)
    out = by_id(group, 3).protocol.get_output_vector_double()
    assert isinstance(out, np.ndarray) and out.dtype == np.float64 and out.shape == (SLOTS,)
    np.testing.assert_array_equal(out, values)
    for pid in (1, 2):
        assert by_id(group, pid).protocol.get_output_vector_double().shape == (0,)


def test_round_retry_and_reset_as_documented():
    assert qv.Protocol.reset_protocol.__doc__.endswith(
        DOC + "Reset the protocol prior to another use." + DOC_END + "\n")
    group = parties([1, 2, 3, 7])   # 7 owns no key and holds the input
    decrypt_protocols(group, 1)
    holder = by_id(group, 7)
    holder.protocol.set_input(encrypted(holder.he, np.arange(SLOTS, dtype=float)))
    run_round(group)
    run_round(group)
    aggregator = by_id(group, 1)
    full = aggregator.inbox
    assert len(full) == 2
    partial = qv.ProtocolMessageVector([full[0]])
    # Not all needed messages: False, and the round is not over.
    assert aggregator.protocol.execute_next_round(qv.ProtocolMessageVector(), partial) is False
    assert aggregator.protocol.get_current_round() == 3
    assert run_round(group) == [True] * 4
    np.testing.assert_array_equal(aggregator.protocol.get_output_vector_double(),
                                  np.arange(SLOTS, dtype=float))

    # A finished protocol refuses another round and leaves both vectors alone.
    out, inp = qv.ProtocolMessageVector(full), qv.ProtocolMessageVector()
    with pytest.raises(RuntimeError, match="^The current round number is out of range. The "
                       "protocol has already finished or an unexpected error occurred. Current "
                       "round number: 4, total number of rounds in the protocol: 3$"):
        aggregator.protocol.execute_next_round(out, inp)
    assert len(out) == 2 and len(inp) == 0

    for p in group:
        p.protocol.reset_protocol()
        assert p.protocol.get_current_round() == 1
    assert aggregator.protocol.is_role(qv.MP_PLAINTEXT_AGGREGATOR)
    second = by_id(group, 2)
    second.protocol.set_input(encrypted(second.he, -np.ones(SLOTS)))
    run_all(group)
    np.testing.assert_array_equal(aggregator.protocol.get_output_vector_double(), -np.ones(SLOTS))


def test_protocol_surface():
    group = parties([1])
    he = group[0].he
    decrypt = qv.DecryptProtocol(he)
    init = qv.InitProtocol(he)
    assert isinstance(decrypt, qv.Protocol) and isinstance(init, qv.Printable)
    assert init.get_protocol_type() == qv.PROTOCOL_INIT == 0
    assert decrypt.get_protocol_type() == qv.PROTOCOL_DECRYPT == 1
    assert (init.get_total_number_of_rounds(), decrypt.get_total_number_of_rounds()) == (6, 3)
    roles = decrypt.get_roles()
    assert roles == {qv.MP_KEY_OWNER, qv.MP_INITIATOR} and 0 in roles
    assert decrypt.get_plaintext_aggregator_id() == -1
    with pytest.raises(TypeError):
        decrypt.is_role(0)
    with pytest.raises(TypeError):
        decrypt.set_verbosity(2)
    with pytest.raises(TypeError, match="No constructor defined!$"):
        qv.Protocol()
    with pytest.raises(TypeError):
        decrypt.execute_next_round([], [])
    assert decrypt.to_string() == ("Protocol:\nCurrent round: 1 out of 3\nProtocol type: DECRYPT\n"
                                   "Participant roles: KEY-OWNER, INITIATOR\nParticipant ID: 1\n\n")
    assert decrypt.to_string(qv.VERBOSITY_NONE) == ""
    with pytest.raises(TypeError, match="^set_input\\(\\): incompatible function arguments"):
        decrypt.set_input(np.ones(SLOTS))
    doc = qv.DecryptProtocol.set_input.__doc__
    assert doc.count(DOC + "Set the encrypted input to decrypt.\n" + DOC +
                     ":param input: The encrypted input to decrypt.") == 3
    kinds = [":type input: EncryptedData.", ":type input: CTileTensor.", ":type input: CTile."]
    assert [doc.index(k) for k in kinds] == sorted(doc.index(k) for k in kinds)
    assert qv.DecryptProtocol.get_output_double_tensor.__doc__.endswith(
        DOC + "Get the decrypted output. Should be used only if the input was set using "
        "set_input(CTileTensor)." + "\n" + DOC + ":return: The decrypted output." + DOC +
        ":rtype: numpy.array." + DOC_END + "\n")
    with pytest.raises(RuntimeError, match="^AbstractDecryptProtocol::getOutputDoubleTensor - "
                       "protocol was not initialized with CTileTensor$"):
        decrypt.get_output_double_tensor()
    with pytest.raises(RuntimeError, match="^AbstractDecryptProtocol::"
                       "getOutputVectorDoubleTensorCPtr - protocol was not initialized with "
                       "EncryptedData$"):
        decrypt.get_output_vector_double_tensor()


@pytest.mark.parametrize("named", [99, -2**31, -1, 7])
def test_plaintext_aggregator_must_be_a_key_owner(named):
    """An id that is no key owner's would leave the output with nobody: every
    participant refuses it (7, which owns no key, with the role's own error)."""
    group = parties([1, 2, 3, 7])
    decrypt_protocols(group, 1)
    for p in group:
        with pytest.raises(ValueError) as info:
            p.protocol.set_plaintext_aggregator_id(named)
        if p.id == named:
            assert str(info.value) == ("AbstractProtocol::addRole - plaintext-aggregator which "
                                       "is a non-key-owner is not supported.")
        else:
            assert str(info.value) == (
                "AbstractDecryptProtocol::setPlaintextAggregatorId - the plaintext-aggregator "
                "ID %d is not a key-owner ID; the plaintext-aggregator must be one of the "
                "key-owners: 1, 2, 3" % named)
            assert p.protocol.get_plaintext_aggregator_id() == 1
    for p in group:
        p.protocol = qv.DecryptProtocol(p.he)
        p.protocol.set_plaintext_aggregator_id(1)
    holder = by_id(group, 7)
    holder.protocol.set_input(encrypted(holder.he, range(SLOTS)))
    run_all(group)
    np.testing.assert_array_equal(by_id(group, 1).protocol.get_output_vector_double(),
                                  np.arange(SLOTS, dtype=float))


def test_protocol_errors():
    group = parties([1, 2, 3, 7])
    decrypt_protocols(group, 1)
    holder, outsider = by_id(group, 2), by_id(group, 7)
    holder.protocol.set_input(encrypted(holder.he, np.ones(SLOTS)))
    with pytest.raises(RuntimeError,
                       match="^AbstractDecryptProtocol::validateNotInit - input is already set.$"):
        holder.protocol.set_input(encrypted(holder.he, np.ones(SLOTS)))
    with pytest.raises(ValueError, match="^AbstractDecryptProtocol::setInput - input is empty$"):
        outsider.protocol.set_input(qv.CTile(outsider.he))
    with pytest.raises(RuntimeError, match="^AbstractDecryptProtocol::getOutputVectorDouble - "
                       "protocol was not initialized with CTile$"):
        by_id(group, 3).protocol.get_output_vector_double()
    with pytest.raises(ValueError, match="^AbstractProtocol::addRole - plaintext-aggregator "
                       "which is a non-key-owner is not supported.$"):
        outsider.protocol.set_plaintext_aggregator_id(7)
    with pytest.raises(RuntimeError, match="^This HE context is not multi-party$"):
        qv.InitProtocol(qv.HeContext.create(MOCKUP, qv.HeConfigRequirement.insecure(SLOTS, 2)))
    debug = qv.DebugContext(qv.HeContext.create(MOCKUP, qv.HeConfigRequirement.insecure(8, 2)),
                            qv.HeContext.create(MOCKUP, qv.HeConfigRequirement.insecure(8, 2)))
    for make in (qv.InitProtocol, qv.DecryptProtocol, qv.ProtocolMessage):
        with pytest.raises(RuntimeError, match="^This HeContext cannot provide MultiPartyUtils$"):
            make(debug)

    # A message that is not for this participant: ValueError with the full text.
    owner = by_id(group, 3)
    wrong = qv.ProtocolMessageVector()
    holder.protocol.execute_next_round(wrong, qv.ProtocolMessageVector())
    assert len(wrong) == 1 and not owner.protocol.is_input_message_valid_for_current_round(wrong[0])
    expected = invalid("The round number in which this message is to be received by the "
                       "destination does not match the current round number. The message "
                       "should be received on round: 2, the current round number:1",
                       2, "KEY-OWNER", "DECRYPT", 2)
    with pytest.raises(ValueError) as err:
        owner.protocol.execute_next_round(qv.ProtocolMessageVector(), wrong)
    assert str(err.value) == expected


# ---------------------------------------------------------------- tile tensors and data sets

def complex_packed(size, tile):
    return qv.TTDim(size, tile).set_is_complex_packed(True)


def summed(c, vals):
    c.sum_over_dim(1)
    return vals.sum(axis=1, keepdims=True)


def squared(c, vals):
    c.square()
    return vals * vals


# Tile-tensor layouts over 8 slots: the shape, the sizes of the values, and an
# optional operation that changes the tensor before it is decrypted (returning
# the expected values).
TENSORS = {
    "several tiles": (lambda: qv.TTShape([2, 4]), (3, 5), None),
    "complex packed": (lambda: shape_of(qv.TTDim(3, 2), complex_packed(6, 4)), (3, 6), None),
    "interleaved": (lambda: shape_of(interleaved(5, 2), qv.TTDim(3, 4)), (5, 3), None),
    "duplicated": (lambda: shape_of(qv.TTDim(3, 2), qv.TTDim(1, 4, 4)), (3, 1), None),
    "diagonalized": (lambda: shape_of(qv.TTDim(2, 2), qv.TTDim(3, 4), diagonalized=True), (2, 3),
                     None),
    "three dimensions": (lambda: qv.TTShape([2, 2, 2]), (3, 2, 3), None),
    "unknown unused slots": (lambda: qv.TTShape([2, 4]), (3, 5), summed),
    "lower chain index": (lambda: qv.TTShape([2, 4]), (3, 5), squared),
}


def tensor_of(he, name, seed):
    """A tile tensor of the layout and the values it holds."""
    make_shape, sizes, change = TENSORS[name]
    vals = rand(*sizes, seed=seed)
    c = qv.TTEncoder(he).encode_encrypt(make_shape(), vals)
    return c, (change(c, vals) if change else vals)


@pytest.mark.parametrize("name", list(TENSORS))
def test_tile_tensor_decrypted_jointly_through_bytes(name):
    group = parties([1, 2, 3], initiator=2, aggregator=3)
    init_all(group)
    decrypt_protocols(group, 3)
    holder = by_id(group, 1)
    c, expected = tensor_of(holder.he, name, seed=4)
    holder.protocol.set_input(c)
    c.negate()   # the protocol holds its own copy
    run_all(group)
    aggregator = by_id(group, 3)
    out = aggregator.protocol.get_output_double_tensor()
    assert out.dtype == np.float64 and out.shape == expected.shape
    np.testing.assert_allclose(out, expected, atol=1e-12)
    for pid in (1, 2):
        assert by_id(group, pid).protocol.get_output_double_tensor().shape == (0,)
    with pytest.raises(RuntimeError, match="^AbstractDecryptProtocol::getOutputVectorDouble - "
                       "protocol was not initialized with CTile$"):
        aggregator.protocol.get_output_vector_double()


def data_set(he, kind, batches, tmp_path):
    """An EncryptedData of the tile tensors, loaded from bytes, then held in
    memory or in a storage of the kind."""
    data = qv.EncryptedData(he)
    data.load_from_buffer(saved_tensor_data(he, batches))
    if kind == "memory":
        return data
    storage = (qv.PythonBackedStorage(DictHandler()) if kind.startswith("Python")
               else qv.FileStorage(str(tmp_path / "store"), True))
    out = qv.EncryptedData(he)
    out.attach_output_storage(storage)
    out.add_encrypted_data(data)
    out.flush_to_storage()
    if kind.endswith("output storage"):
        return out
    stored = qv.EncryptedData(he)
    stored.attach_input_storage(storage)
    return stored


@pytest.mark.parametrize("kind", ["memory", "Python input storage", "file input storage",
                                  "file output storage"])
def test_encrypted_data_decrypted_jointly_through_bytes(kind, tmp_path):
    group = parties([1, 2, 3, 7])   # 7 owns no key and holds the input
    decrypt_protocols(group, 2)
    holder = by_id(group, 7)
    layouts = [["several tiles", "complex packed"],
               ["interleaved", "diagonalized", "unknown unused slots"]]
    batches, expected = [], []
    for b, names in enumerate(layouts):
        items = [tensor_of(holder.he, name, seed=10 * b + i) for i, name in enumerate(names)]
        batches.append([c for c, _ in items])
        expected += [vals for _, vals in items]
    data = data_set(holder.he, kind, batches, tmp_path)
    assert data.get_num_batches() == 2
    holder.protocol.set_input(data)
    run_all(group)
    aggregator = by_id(group, 2)
    out = aggregator.protocol.get_output_vector_double_tensor()
    assert [o.shape for o in out] == [e.shape for e in expected]
    for o, e in zip(out, expected):
        np.testing.assert_allclose(o, e, atol=1e-12)
    # Each call converts anew: changing what it returned changes nothing.
    out[0][0, 0] = 100.0
    out.pop()
    again = aggregator.protocol.get_output_vector_double_tensor()
    assert len(again) == 5 and again[0][0, 0] == expected[0][0, 0]
    for pid in (1, 3, 7):
        assert by_id(group, pid).protocol.get_output_vector_double_tensor() == []
    with pytest.raises(RuntimeError, match="^AbstractDecryptProtocol::getOutputDoubleTensor - "
                       "protocol was not initialized with CTileTensor$"):
        aggregator.protocol.get_output_double_tensor()


# ---------------------------------------------------------------- messages

def test_messages_and_their_vector():
    group = parties([1, 2, 3])
    decrypt_protocols(group, 1)
    holder = by_id(group, 3)
    holder.protocol.set_input(encrypted(holder.he, np.ones(SLOTS)))
    vec = qv.ProtocolMessageVector()
    assert len(vec) == 0 and not vec
    holder.protocol.execute_next_round(vec, qv.ProtocolMessageVector())
    assert len(vec) == 1 and vec
    msg = vec[0]
    assert isinstance(msg, qv.ProtocolMessage) and isinstance(msg, qv.Saveable)
    assert msg.get_metadata_as_string(True) == \
        "source_id_3_dest_role_KEY-OWNER_protocol_type_DECRYPT_for_round_2_"
    assert msg.get_metadata_as_string(single_line=False) == (
        "\nMessage metadata:\nSource ID: 3\nDestination role: KEY-OWNER\nProtocol type: DECRYPT"
        "\nTo be received on round #: 2")
    assert (msg.get_protocol_type(), msg.get_source_participant_id(),
            msg.get_destination_role(), msg.get_to_be_received_on_round()) == \
        (qv.PROTOCOL_DECRYPT, 3, qv.MP_KEY_OWNER, 2)
    assert msg.get_class_name() == "ProtocolMessage"
    with pytest.raises(TypeError):
        msg.get_metadata_as_string()

    loaded = qv.ProtocolMessage(by_id(group, 1).he)
    loaded.load_from_buffer(msg.save_to_buffer())
    assert loaded.get_metadata_as_string(False) == msg.get_metadata_as_string(False)
    empty = qv.ProtocolMessage(holder.he)
    assert len(empty.save_to_buffer()) == len(loaded.save_to_buffer()) - len(
        encrypted(holder.he, np.ones(SLOTS)).save_to_buffer())
    assert qv.ProtocolMessage.__doc__ == DOC + "A message in a multi-party protocol." + DOC_END
    assert qv.ProtocolMessage.get_metadata_as_string.__doc__.endswith(
        DOC + ":param single_line: Whether to print the metadata in a single line." + DOC +
        ":type single_line: bool." + DOC + ":return: Returns the metadata of this protocol "
        "message object as a string." + DOC + ":rtype: str." + DOC_END + "\n")


# The start of a script run in a fresh interpreter: the context of a lone key
# owner, and a decryption protocol of it holding a tile.
LONE_OWNER = """
        import gc
        import _pyquorvanelite_cppwrappers as qv

        def context():
            cfg = qv.MultiPartyConfig()
            cfg.participant_id = 1
            cfg.key_owners_ids = [1]
            req = qv.HeConfigRequirement.insecure(8, 3)
            req.set_multi_party_config(cfg)
            return qv.HeContext.create("Mockup_Mockup", req)

        def decrypting(he):
            protocol = qv.DecryptProtocol(he)
            protocol.set_plaintext_aggregator_id(1)
            protocol.set_input(qv.Encoder(he).encode_encrypt([float(v) for v in range(8)]))
            return protocol
"""


def test_protocols_and_messages_keep_their_context_alive():
    # The contexts' Python objects are gone before their protocol, vectors and
    # messages are used.
    result = run_python(LONE_OWNER + """
        def build():
            he = context()
            return decrypting(he), qv.ProtocolMessage(he)

        protocol, message = build()
        gc.collect()
        out = qv.ProtocolMessageVector()
        protocol.execute_next_round(out, qv.ProtocolMessageVector())
        del protocol
        gc.collect()
        print(len(out), len(out[0].save_to_buffer()), len(message.save_to_buffer()))
        """)
    assert result.returncode == 0, result.stderr
    count, with_tile, empty = map(int, result.stdout.split())
    assert count == 1 and with_tile > empty
    assert empty == 32 + 23  # the saved-object header, then the empty body


def test_messages_put_into_a_vector_by_hand_keep_their_context_alive():
    # Each vector (or message taken out of one) is the last holder of its
    # context; loading a tile payload into its message then needs that context.
    result = run_python(LONE_OWNER + """
        def message_with_tile(he):
            out = qv.ProtocolMessageVector()
            decrypting(he).execute_next_round(out, qv.ProtocolMessageVector())
            return out[0].save_to_buffer()

        def held(how):
            he = context()
            m = qv.ProtocolMessage(he)
            other = qv.ProtocolMessage(he)
            v = qv.ProtocolMessageVector()
            if how == "append":
                v.append(m)
            elif how == "insert":
                v.insert(0, m)
            elif how == "extend by a list":
                v.extend([m])
            elif how == "extend by a vector":
                v.extend(qv.ProtocolMessageVector([m]))
            elif how == "set an item":
                v = qv.ProtocolMessageVector([other])
                v[0] = m
            elif how == "set a slice":
                v = qv.ProtocolMessageVector([other])
                v[0:1] = qv.ProtocolMessageVector([m])
            elif how == "build from a list":
                v = qv.ProtocolMessageVector([m])
            elif how == "copy a vector":
                v = qv.ProtocolMessageVector(qv.ProtocolMessageVector([m]))
            elif how == "take a slice":
                v = qv.ProtocolMessageVector([m])[0:1]
            elif how == "pop":
                return qv.ProtocolMessageVector([m]).pop()
            elif how == "pop at":
                return qv.ProtocolMessageVector([m, other]).pop(0)
            return v[0]

        saved = message_with_tile(context())
        for how in ["append", "insert", "extend by a list", "extend by a vector", "set an item",
                    "set a slice", "build from a list", "copy a vector", "take a slice", "pop",
                    "pop at"]:
            message = held(how)
            gc.collect()
            message.load_from_buffer(saved)
            print(how, "|", message.get_metadata_as_string(True), len(message.save_to_buffer()))
        """)
    assert result.returncode == 0, result.stderr
    lines = result.stdout.splitlines()
    assert [line.split(" | ")[0] for line in lines] == [
        "append", "insert", "extend by a list", "extend by a vector", "set an item",
        "set a slice", "build from a list", "copy a vector", "take a slice", "pop", "pop at"]
    size = int(lines[0].split()[-1])
    assert size > 32 + 23
    for line in lines:
        assert line.split(" | ")[1] == \
            "source_id_1_dest_role_KEY-OWNER_protocol_type_DECRYPT_for_round_2_ %d" % size


def test_message_vector_positions_slices_and_refusals():
    group = parties([1])
    he = group[0].he
    made = []
    for rnd in (1, 2, 3):
        protocol = qv.DecryptProtocol(he)
        out = qv.ProtocolMessageVector()
        protocol.set_plaintext_aggregator_id(1)
        protocol.set_input(encrypted(he, np.full(SLOTS, float(rnd))))
        protocol.execute_next_round(out, qv.ProtocolMessageVector())
        made.append(out[0].save_to_buffer())

    def msg(i):
        m = qv.ProtocolMessage(he)
        m.load_from_buffer(made[i])
        return m

    def saved(v):
        return [made.index(m.save_to_buffer()) for m in v]

    v = qv.ProtocolMessageVector([msg(0), msg(1)])
    v.append(msg(2))
    v.insert(-1, msg(0))
    v.insert(len(v), msg(1))
    assert saved(v) == [0, 1, 0, 2, 1]
    v.extend(v)
    v.extend(m for m in [msg(2)])
    assert saved(v) == [0, 1, 0, 2, 1, 0, 1, 0, 2, 1, 2]
    assert saved(v[1:6:2]) == [1, 2, 0] and saved(v[::-4]) == [2, 1, 0]
    v[-1] = msg(0)
    v[0:4:2] = qv.ProtocolMessageVector([msg(2), msg(2)])
    assert saved(v) == [2, 1, 2, 2, 1, 0, 1, 0, 2, 1, 0]
    assert saved([v.pop(), v.pop(0), v.pop(-2)]) == [0, 2, 2]
    assert saved(qv.ProtocolMessageVector(v)) == saved(v) == [1, 2, 2, 1, 0, 1, 0, 1]
    del v[1:3]
    del v[0]
    assert saved(v) == [1, 0, 1, 0, 1]
    for bad in (lambda: v.pop(5), lambda: v.insert(6, msg(0)), lambda: v.__setitem__(-6, msg(0)),
                lambda: qv.ProtocolMessageVector().pop(), lambda: v[5]):
        with pytest.raises(IndexError):
            bad()
    with pytest.raises(RuntimeError, match="^Left and right hand size of slice assignment have "
                       "different sizes!$"):
        v[0:2] = qv.ProtocolMessageVector([msg(0)])
    for bad in (lambda: v.extend([msg(0), 1]), lambda: qv.ProtocolMessageVector([msg(0), 1])):
        with pytest.raises(TypeError, match="^Cannot put item 1 of type int into a "
                           "ProtocolMessageVector: expected a ProtocolMessage$"):
            bad()
    with pytest.raises(TypeError):
        v.append(1)
    assert saved(v) == [1, 0, 1, 0, 1]
    # Items are the vector's own: loading into one changes the vector.
    v[0].load_from_buffer(made[2])
    assert saved(v)[0] == 2
    assert qv.ProtocolMessageVector.append.__doc__ == (
        "append(self: _pyquorvanelite_cppwrappers.ProtocolMessageVector, "
        "x: _pyquorvanelite_cppwrappers.ProtocolMessage) -> None\n\n"
        "Add an item to the end of the list\n")
    assert not hasattr(v, "count") and not hasattr(v, "remove")


def test_demo_decrypts_jointly_with_three_parties():
    import os
    import subprocess
    import sys
    demo = os.path.join(os.path.dirname(__file__), "..", "..", "examples", "demo.py")
    result = subprocess.run([sys.executable, demo], capture_output=True, text=True, timeout=120,
                            cwd=os.path.dirname(demo))
    assert result.returncode == 0, result.stderr
    assert "common context id after the initialisation protocol: True" in result.stdout
    assert "joint decryption matches numpy: True" in result.stdout


def test_replayed_and_forged_messages_are_refused():
    group = parties([1, 2, 3], initiator=1, aggregator=3)
    init_all(group)
    decrypt_protocols(group, 3)
    holder, owner = by_id(group, 1), by_id(group, 2)
    holder.protocol.set_input(encrypted(holder.he, np.ones(SLOTS)))
    run_round(group)
    replayed = owner.inbox[0].save_to_buffer()
    run_round(group)
    run_round(group)

    for p in group:
        p.protocol.reset_protocol()
    holder.protocol.set_input(encrypted(holder.he, np.zeros(SLOTS)))
    run_round(group)
    old = qv.ProtocolMessage(owner.he)
    old.load_from_buffer(replayed)
    with pytest.raises(ValueError) as err:
        owner.protocol.execute_next_round(qv.ProtocolMessageVector(),
                                          qv.ProtocolMessageVector([old]))
    assert str(err.value) == invalid("The message belongs to an earlier run of the protocol.",
                                     1, "KEY-OWNER", "DECRYPT", 2)
    # The same message sent by a key owner to the holder, which takes no input.
    forged = qv.ProtocolMessageVector()
    decoy = qv.DecryptProtocol(owner.he)
    decoy.set_plaintext_aggregator_id(3)
    decoy.set_input(encrypted(owner.he, np.ones(SLOTS)))
    decoy.execute_next_round(forged, qv.ProtocolMessageVector())
    received = qv.ProtocolMessage(holder.he)
    received.load_from_buffer(forged[0].save_to_buffer())
    with pytest.raises(ValueError) as err:
        holder.protocol.execute_next_round(qv.ProtocolMessageVector(),
                                           qv.ProtocolMessageVector([received]))
    assert str(err.value) == invalid(
        "The message does not come from the CIPHERTEXT-HOLDER, which sends the messages of this "
        "round. Expected source ID: 1", 2, "KEY-OWNER", "DECRYPT", 2)
    assert run_round(group) == [True] * 3
    assert run_round(group) == [True] * 3
    np.testing.assert_array_equal(by_id(group, 3).protocol.get_output_vector_double(),
                                  np.zeros(SLOTS))
