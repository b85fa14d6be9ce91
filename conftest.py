"""Fixtures shared by every Python test suite of the repository; the
helpers are in testing/tessarils_testing.py."""

import pytest

from tessarils import Tessaril
from tessarils_testing import BACKENDS


@pytest.fixture(params=BACKENDS, ids=repr)
def backend(request):
    return request.param


@pytest.fixture
def box(backend):
    return Tessaril(backend, key=0x0123456789ABCDEF_FEDCBA9876543210)
