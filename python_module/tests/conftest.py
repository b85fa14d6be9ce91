"""Shared helpers: backends, and an independent token writer/reader built on
cryptography's AES-GCM and PyNaCl's XChaCha20-Poly1305."""

import base64
import hashlib
import os

import pytest

try:
    from cryptography.hazmat.primitives.ciphers.aead import AESGCM
    from nacl import bindings as sodium
except ImportError:  # a bare interpreter: the tests that need them skip
    AESGCM = sodium = None

from tessarils import Backend, Tessaril

BACKENDS = [Backend.AES256_GCM, Backend.XCHACHA20_POLY1305]
LABELS = [b"aes256gcm", b"xchacha20poly1305"]  # indexed by int(backend)
NONCE_BYTES = [12, 24]

INVALID_TOKEN = "invalid token"
INVALID_BASE64 = "base64 is invalid"
TAMPERED = "the data has been modified"
EXPIRED = "token has expired"
MISMATCH = "token was not minted for the expected purpose"


@pytest.fixture(params=BACKENDS, ids=repr)
def backend(request):
    return request.param


@pytest.fixture
def box(backend):
    return Tessaril(backend, key=0x0123456789ABCDEF_FEDCBA9876543210)


def derived_key(backend, key):
    return hashlib.sha256(key.to_bytes(16, "big") + LABELS[int(backend)]).digest()


def context_record(expires_at=0, purpose=b"session", version=1, length=None, trailer=b""):
    size = len(purpose) if length is None else length
    return bytes([version]) + expires_at.to_bytes(8, "big") + bytes([size]) + purpose + trailer


def b64(data):
    return base64.urlsafe_b64encode(data).decode("ascii")


def require_peers():
    if AESGCM is None or sodium is None:
        pytest.skip("needs cryptography and PyNaCl")


def seal_foreign(backend, key, plaintext, context):
    require_peers()
    aead_key = derived_key(backend, key)
    nonce = os.urandom(NONCE_BYTES[int(backend)])
    if backend == Backend.AES256_GCM:
        sealed = AESGCM(aead_key).encrypt(nonce, plaintext, context)
    else:
        sealed = sodium.crypto_aead_xchacha20poly1305_ietf_encrypt(plaintext, context, nonce, aead_key)
    return ".".join(map(b64, (nonce, context, sealed)))


def open_foreign(backend, key, token):
    """Returns (context record, plaintext) of a token, authenticating it."""
    require_peers()
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
    with pytest.raises(exception) as info:
        call(*args, **kwargs)
    assert type(info.value) is exception
    assert str(info.value) == message
    return info.value
