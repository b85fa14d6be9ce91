"""The benchmark's peers, set up exactly as bench/compare.py times them, do
what their rows claim: each gives every payload back, refuses a changed
token, and each encrypting format hides the payload behind a fresh nonce,
so that a misconfigured peer cannot make tessarils look fast. Where a format
shares an AEAD with tessarils, its tokens and ours are opened by hand with
the PyPI releases of cryptography and PyNaCl.

Runs in the environment scripts/tool-venv makes from bench/requirements.txt (scripts/stage-peers)."""

import base64
import importlib.metadata
import io
import re
from pathlib import Path

import pytest

import compare
import peers
from compare import JSON_SIZE, SIZES, payload
from tessarils import Tessaril
from tessarils_testing import context_record, open_foreign, seal_foreign

IMPLEMENTATIONS = {implementation.name: implementation for implementation in peers.implementations()}
FORMATS = [i.name for i in IMPLEMENTATIONS.values() if i.kind in (peers.OURS, peers.TOKEN, peers.SIGNED)]
KEY = 0x0123456789ABCDEF_FEDCBA9876543210

# A payload that a serializer writes out verbatim, so that a format that does
# not encrypt shows it.
READABLE = b"user=ada;email=ada@example.com;role=admin"

pytestmark = pytest.mark.filterwarnings("ignore::DeprecationWarning")  # pybranca's datetime.utcnow()


def run(implementation, data):
    """(token, what opening it gives) through the benchmark's own statements."""
    setup = implementation.setup
    names = dict(setup.names, data=setup.argument(data))
    sealed = eval(setup.seal, dict(names))
    return sealed, eval(setup.open, dict(names, sealed=sealed))


def opens(implementation, token) -> bool:
    setup = implementation.setup
    try:
        eval(setup.open, dict(setup.names, sealed=token))
    except Exception:
        return False
    return True


def changed(token, at: int, binary: bool):
    """|token| with the byte at |at| flipped, or its character replaced by another letter."""
    if binary:
        return token[:at] + bytes([token[at] ^ 1]) + token[at + 1 :]
    letter = "B" if token[at] in ("A", 65) else "A"
    return token[:at] + (letter if isinstance(token, str) else letter.encode()) + token[at + 1 :]


def test_the_pinned_releases_are_the_ones_measured():
    pins = dict(
        line.split("==")
        for line in Path(__file__).with_name("requirements.txt").read_text().splitlines()
        if "==" in line and not line.startswith("#")
    )
    assert len(peers.DISTRIBUTIONS) == 7
    for name in peers.DISTRIBUTIONS:
        assert importlib.metadata.version(name) == pins[name], name


# pybranca's base62 codec is quadratic: opening 15,000 B takes seconds.
# bench/compare.py checks those round trips itself before it times them.
ROUND_TRIPS = [
    (name, size) for name in IMPLEMENTATIONS for size in SIZES if name != peers.BRANCA or SIZES[size] <= 1024
]


@pytest.mark.parametrize("name, size", ROUND_TRIPS)
def test_round_trip_and_tampering(name, size):
    implementation = IMPLEMENTATIONS[name]
    assert implementation.unavailable is None
    data = payload(size)
    token, opened = run(implementation, data)
    assert opened == implementation.setup.argument(data)
    # A change in the middle of the token (ciphertext, signed payload) is refused.
    binary = name.startswith("bare ")
    assert not opens(implementation, changed(token, len(token) // 2, binary))


def fields(token) -> list[bytes]:
    """The raw bytes of every base64url field of a text token, padded or not."""
    text = token.decode() if isinstance(token, bytes) else token
    decoded = [text.encode()]
    for part in re.split(r"[.]", text):
        try:
            decoded.append(base64.urlsafe_b64decode(part.rstrip("=") + "=" * (-len(part.rstrip("=")) % 4)))
        except ValueError:
            pass
    return decoded


@pytest.mark.parametrize("name", FORMATS)
def test_only_encrypting_formats_hide_the_payload(name):
    implementation = IMPLEMENTATIONS[name]
    first, _ = run(implementation, READABLE)
    second, _ = run(implementation, READABLE)
    shown = any(READABLE in part for part in fields(first))
    assert shown == (implementation.kind == peers.SIGNED)
    assert implementation.features.encrypts.startswith("NO") == shown
    if not shown:  # a fresh nonce for every token
        assert first != second


def test_token_lengths_are_of_the_json_payload_and_purpose():
    lengths = compare.json_tokens(list(IMPLEMENTATIONS.values()))
    box = IMPLEMENTATIONS[peers.OURS_AES].setup.json_token
    assert len(peers.PAYLOAD_JSON) == SIZES[JSON_SIZE] == 40 and len(peers.PURPOSE) == 13
    assert lengths[peers.OURS_AES] == len(box()) == 16 + 32 + 76 + 2
    assert set(lengths) == {i.name for i in IMPLEMENTATIONS.values() if i.features}


@pytest.mark.parametrize("plaintext", [b"", peers.PAYLOAD_JSON, payload("16 KiB")])
def test_our_tokens_open_with_the_primitives_and_back(backend, plaintext):
    box = Tessaril(backend, key=KEY)
    assert open_foreign(backend, KEY, box.encrypt(plaintext, purpose=peers.PURPOSE)) == (
        context_record(purpose=peers.PURPOSE.encode()),
        plaintext,
    )
    assert box.decrypt(seal_foreign(backend, KEY, plaintext, context_record())) == plaintext


def test_jwe_is_aes_gcm_under_the_direct_key():
    from cryptography.hazmat.primitives.ciphers.aead import AESGCM

    setup = peers.jwe()
    token = eval(setup.seal, dict(setup.names, data=peers.PAYLOAD_JSON))
    header, encrypted_key, iv, ciphertext, tag = token.split(".")
    assert encrypted_key == ""
    raw = [base64.urlsafe_b64decode(part + "=" * (-len(part) % 4)) for part in (iv, ciphertext, tag)]
    key = setup.names["key"].raw_value
    assert AESGCM(key).decrypt(raw[0], raw[1] + raw[2], header.encode()) == peers.PAYLOAD_JSON


def test_branca_is_xchacha20_poly1305_under_its_key():
    import base62
    import nacl.bindings

    setup = peers.branca()
    branca = setup.names["branca"]
    raw = base62.decodebytes(branca.encode(peers.PAYLOAD_JSON))
    header, nonce = raw[:29], raw[5:29]
    opened = nacl.bindings.crypto_aead_xchacha20poly1305_ietf_decrypt(raw[29:], header, nonce, branca._key)
    assert raw[0] == 0xBA and opened == peers.PAYLOAD_JSON


def test_tink_is_aes_gcm_under_its_keyset_key():
    import tink
    from cryptography.hazmat.primitives.ciphers.aead import AESGCM
    from tink import cleartext_keyset_handle
    from tink.proto import aes_gcm_pb2, tink_pb2

    primitive, handle = peers.tink_aead()
    out = io.BytesIO()
    cleartext_keyset_handle.write(tink.BinaryKeysetWriter(out), handle)
    keyset = tink_pb2.Keyset.FromString(out.getvalue())
    (key,) = keyset.key
    assert key.output_prefix_type == tink_pb2.TINK
    sealed = primitive.encrypt(peers.PAYLOAD_JSON, peers.CONTEXT)
    prefix = b"\x01" + key.key_id.to_bytes(4, "big")
    assert sealed.startswith(prefix) and len(sealed) == 5 + 12 + len(peers.PAYLOAD_JSON) + 16
    aes = AESGCM(aes_gcm_pb2.AesGcmKey.FromString(key.key_data.value).key_value)
    assert aes.decrypt(sealed[5:17], sealed[17:], peers.CONTEXT) == peers.PAYLOAD_JSON

