"""Key entries, generation and the command that prints one."""

from __future__ import annotations

import subprocess
import sys

import pytest
from tessarils import Backend

from tessarils_web import KeyConfigError, Keyring, KeySpec, KeyState, backend_named, generate_key, generate_key_entry
from tessarils_web.keys import MIN_KEY, entries_from_environment, parse_entries
from web_helpers import NEW_KEY, OLD_KEY, assert_no_frame_holds

SECRET = str(NEW_KEY)


@pytest.mark.parametrize(("value", "reason"), [
    (None, "is unset"),
    ("", "is empty"),
    (f"XCHACHA20_POLY1305:{SECRET}\n", "surrounding whitespace or a newline"),
    (f" XCHACHA20_POLY1305:{SECRET}", "surrounding whitespace or a newline"),
    (f"XCHACHA20_POLY1305:{SECRET}\nAES256_GCM:{SECRET}", "surrounding whitespace or a newline"),
    (SECRET, "entry 1 is not BACKEND:DECIMAL_KEY"),
    (f"XCHACHA20_POLY1305:{SECRET},,AES256_GCM:{SECRET}x", "entry 2 has a key that is not a decimal"),
    (f"XCHACHA20_POLY1305:0x{SECRET}", "entry 1 has a key that is not a decimal"),
    (f"XCHACHA20_POLY1305:-{SECRET}", "entry 1 has a key that is not a decimal"),
    (f"XCHACHA20_POLY1305:{SECRET}٣", "entry 1 has a key that is not a decimal"),
    (f"XCHACHA20_POLY1305:{2**128}", "entry 1 has a key out of range"),
    (f"CHACHA:{SECRET}", "entry 1 names an unknown backend"),
    (f"{SECRET}:XCHACHA20_POLY1305", "entry 1 names an unknown backend"),
    ("AES256_GCM:12", "entry 1 has a key below 2**96"),
    (f"AES256_GCM:{MIN_KEY - 1}", "entry 1 has a key below 2**96"),
    (f"AES256_GCM:{SECRET}:expired", "entry 1 has an unknown state"),
    # Revoking a key by listing it again: the first entry would still open its tokens.
    (f"XCHACHA20_POLY1305:{OLD_KEY} AES256_GCM:{SECRET}:retired AES256_GCM:{SECRET}:revoked",
     "entry 3 repeats the key of entry 2"),
    (f"XCHACHA20_POLY1305:{SECRET} AES256_GCM:{SECRET}", "entry 2 repeats the key of entry 1"),
])
def test_configuration_errors_name_the_variable_and_reason_but_never_the_key(
        monkeypatch: pytest.MonkeyPatch, value: str | None, reason: str) -> None:
    if value is None:
        monkeypatch.delenv("APP_KEYS", raising=False)
    else:
        monkeypatch.setenv("APP_KEYS", value)
    with pytest.raises(KeyConfigError) as raised:
        Keyring.from_environment("APP_KEYS")
    text = str(raised.value)
    assert text.startswith("environment variable APP_KEYS: ") and reason in text
    assert SECRET not in text and SECRET[:12] not in text and "CHACHA:" not in text
    assert isinstance(raised.value, ValueError)
    assert_no_frame_holds(raised.value, SECRET)


@pytest.mark.parametrize("make", [
    lambda: Keyring.from_entries(f"XCHACHA20_POLY1305:{SECRET}\n"),
    lambda: Keyring.from_entries(f"XCHACHA20_POLY1305:{2**128 + NEW_KEY}"),
    lambda: Keyring([KeySpec(Backend.AES256_GCM, 2**128 + NEW_KEY)]),
    lambda: Keyring(f"XCHACHA20_POLY1305:{SECRET}"),  # type: ignore[arg-type]  (entries where KeySpecs belong)
], ids=["entries", "entries-out-of-range", "code", "entries-as-keys"])
def test_key_errors_leave_no_key_in_the_frames_an_error_report_prints(make: object) -> None:
    with pytest.raises((KeyConfigError, TypeError)) as raised:
        make()  # type: ignore[operator]
    assert_no_frame_holds(raised.value, SECRET)


def test_entries_give_backends_states_and_order_and_repr_hides_keys() -> None:
    specs = parse_entries(f"XCHACHA20_POLY1305:{NEW_KEY} AES256_GCM:{OLD_KEY}:retired,AES256_GCM:{MIN_KEY}:revoked")
    assert [(s.backend, s.key, s.state) for s in specs] == [
        (Backend.XCHACHA20_POLY1305, NEW_KEY, KeyState.ACTIVE), (Backend.AES256_GCM, OLD_KEY, KeyState.RETIRED),
        (Backend.AES256_GCM, MIN_KEY, KeyState.REVOKED)]
    assert str(NEW_KEY) not in repr(specs)


@pytest.mark.parametrize("state", [KeyState.RETIRED, KeyState.REVOKED])
def test_the_newest_key_seals_so_it_must_be_active(state: KeyState) -> None:
    with pytest.raises(ValueError, match="newest key"):
        Keyring([KeySpec(Backend.AES256_GCM, NEW_KEY, state)])


@pytest.mark.parametrize("key", [5, -NEW_KEY, 2**128, True, OLD_KEY])
def test_keys_from_code_get_the_same_checks(key: int) -> None:
    with pytest.raises(KeyConfigError, match="keyring: key [12]"):
        Keyring([KeySpec(Backend.AES256_GCM, key), KeySpec(Backend.AES256_GCM, OLD_KEY, KeyState.REVOKED)])


def test_generated_keys_pass_the_checks_and_differ() -> None:
    keys = {generate_key() for _ in range(64)}
    assert len(keys) == 64 and all(MIN_KEY <= key < 2**128 for key in keys)
    for name in ("AES256_GCM", "XCHACHA20_POLY1305"):
        (spec,) = parse_entries(generate_key_entry(name))
        assert spec.backend == backend_named(name)
    with pytest.raises(ValueError, match="unknown backend name"):
        backend_named("aes256_gcm")


@pytest.mark.parametrize("arguments", [[], ["--backend", "AES256_GCM"]])
def test_generate_key_command_prints_a_ready_entry(monkeypatch: pytest.MonkeyPatch, arguments: list[str]) -> None:
    printed = subprocess.run([sys.executable, "-m", "tessarils_web", "generate-key", *arguments],
                             capture_output=True, text=True, check=True, timeout=60).stdout
    assert printed.endswith("\n") and printed.count("\n") == 1
    monkeypatch.setenv("APP_KEYS", printed.strip())
    (spec,) = entries_from_environment("APP_KEYS")
    assert spec.backend == (Backend.AES256_GCM if arguments else Backend.XCHACHA20_POLY1305)
