"""Fixtures of the package's tests; the helpers are in web_helpers.py."""

from __future__ import annotations

import pytest
from web_helpers import Clock


@pytest.fixture
def clock() -> Clock:
    return Clock()
