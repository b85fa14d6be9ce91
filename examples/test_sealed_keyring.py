import pytest

from sealed_keyring import BACKENDS, Keyring, new_key_entry
from tessarils_testing import context_record, seal_foreign

BACKEND_NAMES = list(BACKENDS)


def seal_malformed(entry):
    """A token whose context record (version 2) only the holder of the key can seal."""
    name, _, digits = entry.partition(":")
    return seal_foreign(BACKENDS[name], int(digits), b"{}", context_record(version=2))


@pytest.mark.parametrize("newest_backend", BACKEND_NAMES)
@pytest.mark.parametrize("older_backend", BACKEND_NAMES)
def test_rotation_opens_with_any_key_and_tells_which(newest_backend, older_backend):
    newest, older = new_key_entry(newest_backend), new_key_entry(older_backend)
    keyring = Keyring.parse(f"{newest} {older}")
    by_older = Keyring.parse(older).seal(b"old", 1_900_000_000, "session")
    by_newest = keyring.seal(b"new", 1_900_000_000, "session")
    assert [(o.plaintext, o.by_newest_key) for o in (keyring.open(by_older, "session"), keyring.open(by_newest, "session"))] \
        == [(b"old", False), (b"new", True)]


# The refusal must be that of the key that sealed the token: a malformed
# record under the newest key is "invalid token", not an older key's
# "the data has been modified".
@pytest.mark.parametrize("newest_backend", BACKEND_NAMES)
@pytest.mark.parametrize("older_backend", BACKEND_NAMES)
@pytest.mark.parametrize("sealer, refusal", [(0, "invalid token"), (1, "invalid token"), (None, "the data has been modified")],
                         ids=["newest", "older", "neither"])
def test_rotation_reports_the_refusal_of_the_key_that_sealed(newest_backend, older_backend, sealer, refusal):
    entries = [new_key_entry(newest_backend), new_key_entry(older_backend)]
    token = seal_malformed(entries[sealer] if sealer is not None else new_key_entry(newest_backend))
    with pytest.raises(ValueError) as refused:
        Keyring.parse(" ".join(entries)).open(token, "session")
    assert str(refused.value) == refusal


@pytest.mark.parametrize("token, refusal", [("not-a-token", "invalid token"), ("A" * 20 + ".AAAA.AAAA", "invalid token"),
                                             ("A" * 17 + ".AAAA.AAAA", "base64 is invalid")])
def test_a_token_of_no_backend_is_refused_alike(token, refusal):
    with pytest.raises(ValueError) as refused:
        Keyring.parse(f"{new_key_entry('XCHACHA20_POLY1305')} {new_key_entry('AES256_GCM')}").open(token, "session")
    assert str(refused.value) == refusal


@pytest.mark.parametrize("entries", ["", "AES256_GCM", "AES256_GCM:31337x", "CHACHA:31337", "AES256_GCM:-31337"])
def test_malformed_key_list_is_refused_without_repeating_it(entries):
    with pytest.raises(ValueError) as refused:
        Keyring.parse(entries)
    assert "31337" not in str(refused.value)
