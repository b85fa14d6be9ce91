"""What a revocation check does when the store cannot answer: refuse (the default) or let the request through."""

from __future__ import annotations

import logging
from collections.abc import Callable
from typing import Literal, TypeVar

from .revocation.store import StoreUnavailable

#: When the revocation store cannot answer: raise its ``StoreUnavailable`` (``"fail_closed"``), or log an
#: error and let the request through (``"fail_open"``).
OnStoreError = Literal["fail_closed", "fail_open"]
T = TypeVar("T")
log = logging.getLogger("tessarils_web")


def check_policy(on_store_error: str) -> OnStoreError:
    if on_store_error == "fail_closed":
        return "fail_closed"
    if on_store_error == "fail_open":
        return "fail_open"
    raise ValueError("on_store_error must be 'fail_closed' or 'fail_open'")


def ask_store(call: Callable[[], T], *, policy: OnStoreError, open_answer: T, what: str) -> T:
    """``call()``; when the store is unavailable, re-raises (fail_closed) or logs and answers ``open_answer``."""
    try:
        return call()
    except StoreUnavailable:
        if policy == "fail_closed":
            raise
        log.error("revocation store unavailable while %s: letting the request through (fail_open)", what,
                  exc_info=True)
        return open_answer
