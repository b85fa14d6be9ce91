"""Construction: direct keys, keys from the environment, and their equivalence."""

import os
import sys

import pytest

from tessarils import Backend, Tessaril

from tessarils_testing import (CONFLICTING_KEYS, INVALID_KEY_ENV, Index, context_record, open_foreign, raises_message,
                               seal_foreign)

VAR = "TESSARILS_TEST_KEY"


def opens_each_other(a, b):
    return b.decrypt(a.encrypt(b"ab")) == b"ab" and a.decrypt(b.encrypt(b"ba")) == b"ba"


@pytest.mark.parametrize(
    "key, value",
    [(0, 0), (1, 1), (True, 1), (Index(42), 42), (2**64, 2**64), (2**120 - 1, 2**120 - 1), (2**128 - 1, 2**128 - 1)],
)
def test_direct_keys_derive_the_documented_key(backend, key, value):
    # Checked against an independent implementation, so byte order and the
    # leading zero bytes of small keys are part of what is tested.
    box = Tessaril(backend, key=key)
    assert box.decrypt(seal_foreign(backend, value, b"k", context_record())) == b"k"
    assert open_foreign(backend, value, box.encrypt(b"k"))[1] == b"k"


@pytest.mark.parametrize(
    "text, key",
    [
        ("42", 42), ("+42", 42), ("00042", 42), ("0", 0), ("0" * 40 + "1", 1),
        ("340282366920938463463374607431768211455", 2**128 - 1),
    ],
)
def test_key_env_matches_direct_key(monkeypatch, backend, text, key):
    monkeypatch.setenv(VAR, text)
    assert opens_each_other(Tessaril(backend, key_env=VAR), Tessaril(backend, key=key))


@pytest.mark.parametrize(
    "text",
    [
        "", "+", "-", "-1", "-0", "++1", "+-1", " 42", "42 ", "4 2", "4_2", "0x2A", "42.0", "1e3", "\u0664\u0662",
        "\uff14\uff12", "340282366920938463463374607431768211456", "3402823669209384634633746074317682114550",
        "999999999999999999999999999999999999999999",
    ],
)
def test_invalid_key_env_values(monkeypatch, text):
    monkeypatch.setenv(VAR, text)
    raises_message(ValueError, INVALID_KEY_ENV, Tessaril, Backend.AES256_GCM, key_env=VAR)


@pytest.mark.parametrize("name", ["TESSARILS_SURELY_UNSET", "", "=", "A=B", "TESSARILS\0TEST_KEY"])
def test_unreadable_variables(monkeypatch, name):
    monkeypatch.setenv(VAR, "42")
    error = raises_message(ValueError, INVALID_KEY_ENV, Tessaril, Backend.XCHACHA20_POLY1305, key_env=name)
    assert not hasattr(error, "__notes__")


@pytest.mark.skipif(sys.platform == "win32", reason="the environment holds bytes")
def test_value_that_is_not_utf8(monkeypatch):
    monkeypatch.setitem(os.environb, VAR.encode(), b"4\xff2")
    raises_message(ValueError, INVALID_KEY_ENV, Tessaril, Backend.AES256_GCM, key_env=VAR)


def test_variable_is_read_once_at_construction(monkeypatch):
    monkeypatch.setenv(VAR, "5")
    box = Tessaril(Backend.AES256_GCM, key_env=VAR)
    monkeypatch.setenv(VAR, "6")
    assert opens_each_other(box, Tessaril(Backend.AES256_GCM, key=5))


def test_key_env_accepts_str_subclass(monkeypatch):
    monkeypatch.setenv(VAR, "9")
    assert opens_each_other(Tessaril(Backend.AES256_GCM, key_env=type("S", (str,), {})(VAR)),
                            Tessaril(Backend.AES256_GCM, 9, None))


def test_environment_is_consulted_only_as_the_sole_source(monkeypatch):
    monkeypatch.delenv(VAR, raising=False)
    raises_message(ValueError, CONFLICTING_KEYS,
                   Tessaril, Backend.AES256_GCM, key=1, key_env=VAR)
    monkeypatch.setenv(VAR, "not a number")
    assert Tessaril(Backend.AES256_GCM, key=3, key_env=None) is not None
