"""Tokens written and read by an independent implementation of the format
(SHA-256 key derivation, cryptography's AES-GCM, PyNaCl's XChaCha20-Poly1305),
including context records that this module never writes."""

import pytest

from tessarils import Tessaril

from tessarils_testing import BAD_TEXT, EXPIRED, INVALID_TOKEN, MISMATCH, context_record, open_foreign, seal_foreign

KEY = 0x00_00_11_22_33_44_55_66_77_88_99_AA_BB_CC_DD_EE  # leading zero bytes still count


@pytest.mark.parametrize("plaintext", [b"", b"hello", "\u00e9\u20ac".encode() * 1000])
def test_foreign_tokens_open(backend, plaintext):
    token = seal_foreign(backend, KEY, plaintext, context_record())
    assert Tessaril(backend, key=KEY).decrypt(token) == plaintext


@pytest.mark.parametrize(
    "expires_at, purpose, record",
    [
        (None, None, context_record()),
        (1700000000, "admin", bytes.fromhex("010000000065 53f100 05") + b"admin"),
        (2**64 - 1, "\u00e9" * 127, context_record(2**64 - 1, "\u00e9".encode() * 127)),
    ],
)
def test_module_tokens_open_elsewhere(backend, expires_at, purpose, record):
    token = Tessaril(backend, key=KEY).encrypt(b"payload", expires_at=expires_at, purpose=purpose)
    assert open_foreign(backend, KEY, token) == (record, b"payload")


@pytest.mark.parametrize(
    "record, plaintext, purpose, expected",
    [
        (context_record(purpose=b""), b"p", "", b"p"),
        (context_record(purpose=b""), b"p", "session", MISMATCH),
        (context_record(expires_at=0, purpose=b"v2"), b"p", "v2", b"p"),
        (context_record(expires_at=1), b"p", "session", EXPIRED),
        (context_record(expires_at=1, purpose=b"other"), b"p", "session", MISMATCH),
        (context_record(expires_at=1), b"\xff", "session", EXPIRED),
        (context_record(), b"\xff", "session", BAD_TEXT),
        (context_record(purpose=b"p" * 255), b"p", "p" * 255, b"p"),
        (context_record(), b"ok\xe2\x82", "session", BAD_TEXT),
        (context_record(purpose="\u00e9t\u00e9".encode()), b"p", "\u00e9t\u00e9", b"p"),
        (context_record(purpose=b"\xff"), b"p", "session", INVALID_TOKEN),
        (context_record(expires_at=1, purpose=b"\xc3"), b"p", "session", INVALID_TOKEN),
        (context_record(version=2), b"p", "session", INVALID_TOKEN),
        (context_record(version=0), b"p", "session", INVALID_TOKEN),
        (context_record(trailer=b"\x00"), b"p", "session", INVALID_TOKEN),
        (context_record(length=8), b"p", "session", INVALID_TOKEN),
        (context_record(length=6), b"p", "session", INVALID_TOKEN),
        (b"\x01" + bytes(8), b"p", "session", INVALID_TOKEN),
        (b"", b"p", "session", INVALID_TOKEN),
    ],
)
def test_foreign_context_records(backend, record, plaintext, purpose, expected):
    token = seal_foreign(backend, KEY, plaintext, record)
    box = Tessaril(backend, key=KEY)
    if isinstance(expected, bytes):
        assert box.decrypt_for(token, purpose) == expected
    else:
        with pytest.raises(ValueError) as info:
            box.decrypt_for(token, purpose)
        assert type(info.value) is ValueError and info.value.args == (expected,)
