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

import tessarils
from tessarils import Backend, Tessaril

BACKENDS = [Backend.AES256_GCM, Backend.XCHACHA20_POLY1305]
LABELS = [b"aes256gcm", b"xchacha20poly1305"]  # indexed by int(backend)
NONCE_BYTES = [12, 24]
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
    return hashlib.sha256(key.to_bytes(16, "big") + LABELS[int(backend)]).digest()


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


def seal_foreign(backend, key, plaintext, context):
    AESGCM, sodium = peers()
    aead_key = derived_key(backend, key)
    nonce = os.urandom(NONCE_BYTES[int(backend)])
    if backend == Backend.AES256_GCM:
        sealed = AESGCM(aead_key).encrypt(nonce, plaintext, context)
    else:
        sealed = sodium.crypto_aead_xchacha20poly1305_ietf_encrypt(plaintext, context, nonce, aead_key)
    return ".".join(map(b64, (nonce, context, sealed)))


def open_foreign(backend, key, token):
    """Returns (context record, plaintext) of a token, authenticating it."""
    AESGCM, sodium = peers()
    nonce, context, sealed = (base64.urlsafe_b64decode(field) for field in token.split("."))
    aead_key = derived_key(backend, key)
    if backend == Backend.AES256_GCM:
        return context, AESGCM(aead_key).decrypt(nonce, sealed, context)
    return context, sodium.crypto_aead_xchacha20poly1305_ietf_decrypt(sealed, context, nonce, aead_key)


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
