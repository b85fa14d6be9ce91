"""What the package's tests share: fixed keys of both backends, a clock the tests move, keyrings, a broken store."""

from __future__ import annotations

import sys
import time
from pathlib import Path

from tessarils import Backend
from tessarils_web import Keyring, KeySpec, KeyState, StoreUnavailable

# The module's exact messages, from the repository's shared test helpers.
sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "testing"))

NEW_KEY = 0x5A17_C0DE_0000_0001_0123_4567_89AB_CDEF
OLD_KEY = 0x0BAD_5EED_0000_0002_FEDC_BA98_7654_3210
# Tests move their own clock from here; the module checks expiry against the real one, which stays far behind.
START = (int(time.time()) // 86400 + 3650) * 86400
PAST = 1_000_000_000


class Clock:
    def __init__(self, now: float = START) -> None:
        self.now = now

    def __call__(self) -> float:
        return self.now


class BrokenStore:
    """A revocation store that never answers."""

    def revoke(self, identifier: str | bytes, until: int | float) -> None:
        raise StoreUnavailable("store down")

    def is_revoked(self, identifier: str | bytes) -> bool:
        raise StoreUnavailable("store down")

    def consume_once(self, identifier: str | bytes, until: int | float) -> bool:
        raise StoreUnavailable("store down")


def assert_no_frame_holds(error: BaseException, secret: str) -> None:
    """No local of the package's frames in ``error``'s tracebacks (its causes' included) shows ``secret``.

    Error pages (Django's), error e-mails and trackers print every frame's locals.
    """
    seen: BaseException | None = error
    while seen is not None:
        trace = seen.__traceback__
        while trace is not None:
            frame = trace.tb_frame
            if frame.f_globals.get("__name__", "").startswith("tessarils_web"):
                held = [name for name, value in list(frame.f_locals.items()) if secret in repr(value)]
                assert not held, f"{frame.f_code.co_name} holds the key in {held}"
            trace = trace.tb_next
        seen = seen.__cause__ or seen.__context__


def keyring(clock: Clock, *specs: tuple[Backend, int, KeyState]) -> Keyring:
    return Keyring([KeySpec(backend, key, state) for backend, key, state in specs], clock=clock)


def old_ring(clock: Clock) -> Keyring:
    """Before rotation: one AES-256-GCM key."""
    return keyring(clock, (Backend.AES256_GCM, OLD_KEY, KeyState.ACTIVE))


def rotated_ring(clock: Clock, old_state: KeyState = KeyState.RETIRED) -> Keyring:
    """After rotation to XChaCha20-Poly1305 (16 characters longer), the old key kept in ``old_state``."""
    return keyring(clock, (Backend.XCHACHA20_POLY1305, NEW_KEY, KeyState.ACTIVE), (Backend.AES256_GCM, OLD_KEY, old_state))


def new_ring(clock: Clock) -> Keyring:
    """After the old key's removal."""
    return keyring(clock, (Backend.XCHACHA20_POLY1305, NEW_KEY, KeyState.ACTIVE))
