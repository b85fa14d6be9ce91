"""The one table from the module's messages to typed errors, pinned against every message the module raises."""

from __future__ import annotations

from collections.abc import Callable

import pytest
from tessarils import Backend, Tessaril

import tessarils_web.errors as errors
from tessarils_web.errors import MESSAGE_TYPES, translate
from web_helpers import NEW_KEY

import tessarils_testing as messages  # isort: skip  (found through web_helpers' path)

BOX = Tessaril(Backend.AES256_GCM, key=NEW_KEY)
TOKEN = BOX.encrypt(b"x", purpose="p")


def forged_text_token() -> str:
    """A token, authentic under BOX, whose plaintext is not UTF-8 (only a key holder can make one)."""
    record = messages.context_record(purpose=b"p")
    return messages.seal_foreign(Backend.AES256_GCM, NEW_KEY, b"\xff", record)


def _edit(token: str) -> str:
    i = token.rfind(".") + 2
    return token[:i] + ("B" if token[i] == "A" else "A") + token[i + 1:]


# How to make the module raise each of its messages, and the type it must become.
CASES: list[tuple[str, Callable[[], object], type[errors.TessarilsWebError]]] = [
    (messages.MISSING_KEY, lambda: Tessaril(Backend.AES256_GCM), errors.KeyConfigError),  # type: ignore[call-overload]
    (messages.INVALID_KEY_ENV, lambda: Tessaril(Backend.AES256_GCM, key_env="TESSARILS_WEB_UNSET"),
     errors.KeyConfigError),
    (messages.CONFLICTING_KEYS, lambda: Tessaril(Backend.AES256_GCM, key=1, key_env="X"),  # type: ignore[call-overload]
     errors.KeyConfigError),
    (messages.INVALID_TOKEN, lambda: BOX.decrypt_for("a.b", "p"), errors.MalformedToken),
    (messages.TAMPERED, lambda: BOX.decrypt_for(_edit(TOKEN), "p"), errors.TamperedToken),
    (messages.EXPIRED, lambda: BOX.decrypt_for(BOX.encrypt(b"x", expires_at=1, purpose="p"), "p"), errors.ExpiredToken),
    (messages.ZERO_EXPIRY, lambda: BOX.encrypt(b"x", expires_at=0), errors.InvalidExpiry),
    (messages.MISMATCH, lambda: BOX.decrypt_for(TOKEN, "q"), errors.WrongPurpose),
    (messages.EMPTY_PURPOSE, lambda: BOX.encrypt(b"x", purpose=""), errors.InvalidPurpose),
    (messages.PURPOSE_TOO_LONG, lambda: BOX.encrypt(b"x", purpose="p" * 256), errors.InvalidPurpose),
    (messages.PLAINTEXT_TOO_LONG, lambda: BOX.encrypt(b"x" * 16385), errors.PayloadTooLarge),
    (messages.BAD_TEXT, lambda: BOX.decrypt_for(forged_text_token(), "p"), errors.MalformedToken),
    (messages.INVALID_BASE64, lambda: BOX.decrypt_for(TOKEN + "A", "p"), errors.MalformedToken),
]
# The one message no test can provoke without breaking the operating system.
UNPROVOKED = {messages.RANDOM_UNAVAILABLE: errors.RandomnessUnavailable}


def module_messages() -> set[str]:
    return {value for name, value in vars(messages).items() if name.isupper() and isinstance(value, str)
            and name != "TOKEN_ALPHABET"}


def test_table_covers_exactly_the_modules_messages() -> None:
    assert set(MESSAGE_TYPES) == module_messages() == {m for m, _, _ in CASES} | set(UNPROVOKED)


@pytest.mark.parametrize(("message", "provoke", "kind"), CASES, ids=[m for m, _, _ in CASES])
def test_each_message_becomes_its_type_chained_to_the_original(
        message: str, provoke: Callable[[], object], kind: type[errors.TessarilsWebError]) -> None:
    if message == messages.BAD_TEXT:
        messages.peers()
    with pytest.raises(ValueError) as raised:
        provoke()
    assert type(raised.value) is ValueError and str(raised.value) == message
    typed = translate(raised.value)
    assert type(typed) is kind and isinstance(typed, ValueError)
    assert typed.__cause__ is raised.value
    assert message in str(typed)


def test_unknown_messages_and_typed_errors_pass_through_unchanged() -> None:
    other = ValueError("invalid utf-8 sequence of 1 bytes from index 0")
    assert translate(other) is other
    typed = errors.ExpiredToken("x")
    assert translate(typed) is typed
