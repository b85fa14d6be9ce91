"""What the module's Python tests share, imported by name: the backends, the
exact error messages, an independent token writer and reader (on
cryptography's AES-GCM and PyNaCl's XChaCha20-Poly1305), and small helpers.
The hardening workload imports it outside pytest, under the memory checks,
so importing it loads nothing but the standard library and tessarils;
pytest and the cryptography libraries load only when a helper needs them.
The shared fixtures are in the conftest.py at the repository root."""

import base64
import hashlib
import json
import os
import subprocess
import sys
import textwrap
import threading
from pathlib import Path
from typing import NamedTuple

import tessarils
from tessarils import Backend, Tessaril

TOKEN_ALPHABET = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_=."

MISSING_KEY = "the key or key_env must be passed"
INVALID_KEY_ENV = "the value of key_env is invalid"
CONFLICTING_KEYS = "key and key_env were both provided \u2014 pass exactly one"
INVALID_TOKEN = "invalid token"
TAMPERED = "the data has been modified"
EXPIRED = "token has expired"
ZERO_EXPIRY = "expires_at must be greater than zero \u2014 pass None for no expiry"
MISMATCH = "token was not minted for the expected purpose"
EMPTY_PURPOSE = "purpose must not be empty \u2014 pass None for the default instead"
PURPOSE_TOO_LONG = "purpose exceeds the 255-byte limit"
PLAINTEXT_TOO_LONG = "plaintext exceeds the 16384-byte limit"
BAD_TEXT = "decrypted data was not valid UTF-8"
INVALID_BASE64 = "base64 is invalid"
RANDOM_UNAVAILABLE = "operating system randomness is unavailable"


def derived_key(backend, key):
    return hashlib.sha256(key.to_bytes(16, "big") + BACKEND_ROWS[int(backend)].label).digest()


def context_record(expires_at=0, purpose=b"session", version=1, length=None, trailer=b""):
    size = len(purpose) if length is None else length
    return bytes([version]) + expires_at.to_bytes(8, "big") + bytes([size]) + purpose + trailer


def b64(data):
    return base64.urlsafe_b64encode(data).decode("ascii")


def peers():
    """cryptography's AESGCM and PyNaCl's bindings; without them (a bare
    interpreter) the calling test skips."""
    import pytest

    aead = pytest.importorskip("cryptography.hazmat.primitives.ciphers.aead")
    return aead.AESGCM, pytest.importorskip("nacl.bindings")


def _aesgcm_seal(key, nonce, plaintext, aad):
    return peers()[0](key).encrypt(nonce, plaintext, aad)


def _aesgcm_open(key, nonce, sealed, aad):
    return peers()[0](key).decrypt(nonce, sealed, aad)


def _xchacha_seal(key, nonce, plaintext, aad):
    return peers()[1].crypto_aead_xchacha20poly1305_ietf_encrypt(plaintext, aad, nonce, key)


def _xchacha_open(key, nonce, sealed, aad):
    return peers()[1].crypto_aead_xchacha20poly1305_ietf_decrypt(sealed, aad, nonce, key)


class BackendRow(NamedTuple):
    """What the independent writer and reader know of one backend."""

    backend: Backend
    label: bytes  # appended to the key before hashing
    nonce_bytes: int  # the size that tells the backends' tokens apart
    seal: object  # a peer library's AEAD: (key, nonce, plaintext, aad) -> sealed
    open: object  # (key, nonce, sealed, aad) -> plaintext, raising when forged


# In tag order, one row for every member of Backend (checked below).
BACKEND_ROWS = (
    BackendRow(Backend.AES256_GCM, b"aes256gcm", 12, _aesgcm_seal, _aesgcm_open),
    BackendRow(Backend.XCHACHA20_POLY1305, b"xchacha20poly1305", 24, _xchacha_seal, _xchacha_open),
)
BACKENDS = [row.backend for row in BACKEND_ROWS]
NONCE_BYTES = [row.nonce_bytes for row in BACKEND_ROWS]  # indexed by int(backend)
assert [int(backend) for backend in BACKENDS] == list(range(len(BACKENDS)))
assert {name for name, value in vars(Backend).items() if isinstance(value, Backend)} == {
    repr(backend).removeprefix("Backend.") for backend in BACKENDS
}, "a Backend member has no row"


def seal_foreign(backend, key, plaintext, context):
    row = BACKEND_ROWS[int(backend)]
    nonce = os.urandom(row.nonce_bytes)
    sealed = row.seal(derived_key(backend, key), nonce, plaintext, context)
    return ".".join(map(b64, (nonce, context, sealed)))


def open_foreign(backend, key, token):
    """Returns (context record, plaintext) of a token, authenticating it."""
    nonce, context, sealed = (base64.urlsafe_b64decode(field) for field in token.split("."))
    return context, BACKEND_ROWS[int(backend)].open(derived_key(backend, key), nonce, sealed, context)


class Index:
    """An integer-like object that is not an int."""

    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


def raises_message(exception, message, call, *args, **kwargs):
    """Calls and checks the exact type and text; returns the exception."""
    import pytest

    with pytest.raises(exception) as info:
        call(*args, **kwargs)
    assert type(info.value) is exception
    assert str(info.value) == message
    return info.value


def run_threads(count, work, timeout=None):
    """Runs work(0) .. work(count - 1) on threads of their own, started
    together, and returns how many were still running after |timeout|."""
    pool = [threading.Thread(target=work, args=(i,)) for i in range(count)]
    for thread in pool:
        thread.start()
    for thread in pool:
        thread.join(timeout)
    return sum(thread.is_alive() for thread in pool)


def run_python(code, *, preload=None, prefix=(), env=None, timeout=120):
    """Runs |code| in a new interpreter (optionally under a command prefix
    such as faketime, or with a shim preloaded) and returns what it printed
    as JSON on its last line."""
    import pytest

    environment = dict(os.environ)
    module_dir = str(Path(tessarils.__file__).parent)
    environment["PYTHONPATH"] = os.pathsep.join([module_dir, environment.get("PYTHONPATH", "")])
    if preload is not None:
        environment["LD_PRELOAD"] = str(preload)
    environment.update(env or {})
    result = subprocess.run([*prefix, sys.executable, "-c", textwrap.dedent(code)], env=environment,
                            capture_output=True, text=True, timeout=timeout)
    if result.returncode != 0:
        pytest.fail(f"child failed ({result.returncode}):\n{result.stderr}")
    return json.loads(result.stdout.strip().splitlines()[-1])
