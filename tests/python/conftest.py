import pytest

import _pyquorvanelite_cppwrappers as qv


@pytest.fixture
def enc(he):
    """An encoder of the test module's own `he` context."""
    return qv.Encoder(he)
