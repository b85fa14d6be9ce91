"""Coverage-guided fuzzing of the module's Python surface with Atheris.

    python3 fuzz/python_surface_fuzzer.py [libFuzzer options] CORPUS...
    python3 fuzz/python_surface_fuzzer.py --make-seeds DIR

The input is a little program: each step takes an operation byte and then
the choices and values that operation needs (Reader). The operations build
`Tessaril` objects from every key source, seal and open tokens with argument
values of every kind (str and bytes subclasses, ints of every size, objects
whose __index__, __str__ or __eq__ misbehave, None, the expiry and purpose
edges), open tokens edited from real ones, and use `Backend`. Oracles:
every exception is one the module documents (or the one a hostile object
raised itself), a sealed token opens to its plaintext under its purpose and
under no other, an edited token never opens, and a key read from the
environment is exactly the decimal text it holds. A crash or sanitizer report
is caught by the instrumented build (scripts/stage-atheris).

--make-seeds writes the seed corpus: the values the module's tests use,
encoded as programs for this harness.
"""

import os
import re
import sys
import time

from tessarils import Backend, Tessaril

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "testing"))
from tessarils_testing import (  # noqa: E402
    BACKENDS, BAD_TEXT, CONFLICTING_KEYS, EMPTY_PURPOSE, EXPIRED, INVALID_BASE64, INVALID_KEY_ENV, INVALID_TOKEN,
    MISMATCH, MISSING_KEY, PLAINTEXT_TOO_LONG, PURPOSE_TOO_LONG, RANDOM_UNAVAILABLE, TAMPERED, ZERO_EXPIRY)

MESSAGES = {BAD_TEXT, CONFLICTING_KEYS, EMPTY_PURPOSE, EXPIRED, INVALID_BASE64, INVALID_KEY_ENV, INVALID_TOKEN,
            MISMATCH, MISSING_KEY, PLAINTEXT_TOO_LONG, PURPOSE_TOO_LONG, RANDOM_UNAVAILABLE, TAMPERED, ZERO_EXPIRY}
OTHER_VALUE_ERRORS = re.compile(
    r"invalid utf-8 sequence of \d+ bytes from index \d+|incomplete utf-8 byte sequence from index \d+"
    r"|can't convert negative int to unsigned")
REFUSED_TOKEN = {INVALID_TOKEN, TAMPERED, INVALID_BASE64}
DECIMAL_KEY = re.compile(r"\+?[0-9]+", re.ASCII)
KEY_VAR = "TESSARILS_FUZZ_KEY"
FIXED_KEY = 0x000102030405060708090A0B0C0D0E0F
BOXES = [Tessaril(backend, key=FIXED_KEY) for backend in BACKENDS]
MAX_STEPS = 8


class HostileError(Exception):
    """Raised by the hostile objects; must reach the caller unchanged."""


class Reader:
    """Takes values off the front of the input; past its end everything reads as zero."""

    def __init__(self, data):
        self.data, self.at = data, 0

    def byte(self):
        value = self.data[self.at] if self.at < len(self.data) else 0
        self.at += 1
        return value

    def done(self):
        return self.at >= len(self.data)

    def choice(self, options):
        return options[self.byte() % len(options)]

    def blob(self):
        size = self.byte() | (self.byte() & 0x7F) << 8
        value = self.data[self.at:self.at + size]
        self.at += size
        return value

    def text(self):
        raw = self.blob()
        # Lone surrogates on purpose: the module must refuse them cleanly.
        return raw.decode("utf-8", "surrogateescape") if self.byte() & 1 else raw.decode("utf-8", "replace")

    def integer(self):
        kind = self.byte() % 4
        if kind == 0:
            return self.choice(EDGE_INTS)
        magnitude = int.from_bytes(self.blob()[:40], "big")
        return -magnitude if kind == 3 else magnitude


EDGE_INTS = [0, 1, -1, 2, 255, 2**31, 2**32, 2**63 - 1, 2**63, 2**64 - 1, 2**64, 2**64 + 1, 2**127, 2**128 - 1,
             2**128, -2**128, 2**1000, -2**64, int(time.time()), int(time.time()) + 3600]


class IntSub(int):
    pass


class StrSub(str):
    def __str__(self):
        raise HostileError("__str__")

    def __eq__(self, other):
        raise HostileError("__eq__")

    __hash__ = str.__hash__


class BytesSub(bytes):
    def __bytes__(self):
        raise HostileError("__bytes__")

    def __len__(self):
        raise HostileError("__len__")


class HostileIndex:
    def __init__(self, behaviour, value):
        self.behaviour, self.value = behaviour, value

    def __index__(self):
        if self.behaviour == 0:
            return self.value
        if self.behaviour == 1:
            raise HostileError("__index__")
        if self.behaviour == 2:
            return str(self.value)  # not an int: Python refuses it
        os.environ.pop(KEY_VAR, None)  # changes the world in the middle of a call
        return self.value

    def __eq__(self, other):
        raise HostileError("__eq__")

    __hash__ = None


def hostile(reader, value):
    """value itself, or a look-alike of it that misbehaves."""
    kind = reader.byte() % 8
    if kind < 3:
        return value
    if isinstance(value, bool) or not isinstance(value, (int, str, bytes)):
        return value
    if isinstance(value, int):
        return [IntSub(value), HostileIndex(reader.byte() % 4, value), float(value) if abs(value) < 2**60 else None,
                str(value), True][kind - 3]
    if isinstance(value, str):
        return [StrSub(value), value.encode("utf-8", "surrogateescape"), None, HostileIndex(1, 0), value + "\0"][kind - 3]
    return [BytesSub(value), bytearray(value), memoryview(value), value.decode("latin-1"), None][kind - 3]


def allowed(error):
    """Refuses an exception the module does not document."""
    if isinstance(error, HostileError):
        return
    if type(error) in (TypeError, OverflowError, UnicodeEncodeError):
        return
    if type(error) is ValueError and (str(error) in MESSAGES or OTHER_VALUE_ERRORS.fullmatch(str(error))):
        return
    raise AssertionError(f"undocumented exception {type(error).__name__}: {error!r}") from error


def attempt(call, *args, **kwargs):
    """(result, None) or (None, the allowed exception)."""
    try:
        return call(*args, **kwargs), None
    except BaseException as error:  # noqa: B036 - internal faults derive from BaseException on purpose
        allowed(error)
        return None, error


def refused(error, messages):
    return type(error) is ValueError and str(error) in messages


def purpose_value(reader):
    kind = reader.byte() % 6
    if kind == 0:
        return None
    if kind == 1:
        return ""
    if kind == 2:  # around the 255-byte limit, in characters of 1 to 4 bytes
        return reader.choice(["p", "é", "€", "😀"]) * (reader.byte() + reader.byte() % 4)
    return reader.text()


def sealed_token(reader):
    """A real token, its box, plaintext and effective purpose."""
    box = reader.choice(BOXES)
    data = reader.blob()[:16384]
    if not valid_utf8(data):
        data = data.decode("utf-8", "replace").encode()[:16384]
    purpose = reader.choice(["session", "login", "p" * 255, "é" * 127])
    expires = reader.choice([None, 2**64 - 1, int(time.time()) + 3600])
    return box, box.encrypt(data, expires_at=expires, purpose=purpose), data, purpose


def valid_utf8(data):
    try:
        data.decode("utf-8")
        return True
    except UnicodeDecodeError:
        return False


def plain_encrypt_is_valid(data, expires, purpose):
    """Whether plain arguments must seal; None when the values are not plain."""
    if type(data) is not bytes or (expires is not None and type(expires) is not int) or (
            purpose is not None and type(purpose) is not str):
        return None
    try:
        purpose_bytes = purpose.encode() if purpose is not None else b"session"
    except UnicodeEncodeError:
        return False
    return (valid_utf8(data) and len(data) <= 16384 and (expires is None or 1 <= expires < 2**64)
            and 1 <= len(purpose_bytes) <= 255)


def op_construct(reader):
    backend = hostile(reader, reader.choice([*BACKENDS, *range(len(BACKENDS)), None]))
    sources = reader.byte() % 4
    kwargs = {}
    if sources & 1:
        kwargs["key"] = hostile(reader, reader.integer())
    if sources & 2:
        kwargs["key_env"] = hostile(reader, reader.choice([KEY_VAR, "", "A=B", "NUL\0", "TESSARILS_FUZZ_UNSET"]))
    box, error = attempt(Tessaril, backend, **kwargs)
    if sources == 0:
        assert refused(error, {MISSING_KEY}) or isinstance(error, TypeError), error
    if sources == 3 and kwargs["key"] is not None and kwargs["key_env"] is not None:
        assert box is None, "both key sources accepted"
    key = kwargs.get("key")
    if sources == 1 and type(backend) is Backend and type(key) is int:
        assert (box is not None) == (0 <= key < 2**128), (key, error)
    if box is not None:
        token = box.encrypt(b"round trip")
        assert box.decrypt(token) == b"round trip"


def op_key_env(reader):
    value = reader.text()
    backend = reader.choice(BACKENDS)
    try:
        os.environ[KEY_VAR] = value
    except (ValueError, UnicodeEncodeError):
        return  # the environment itself cannot hold it
    box, error = attempt(Tessaril, backend, key_env=KEY_VAR)
    if DECIMAL_KEY.fullmatch(value) and int(value) < 2**128:
        assert box is not None, (value, error)
        twin = Tessaril(backend, key=int(value))
        assert twin.decrypt(box.encrypt(b"k")) == b"k" and box.decrypt(twin.encrypt(b"k")) == b"k"
    else:
        assert refused(error, {INVALID_KEY_ENV}), (value, error)


def op_seal_open(reader):
    box = reader.choice(BOXES)
    data = reader.blob() if reader.byte() % 8 else b"x" * (16383 + reader.byte() % 3)
    data = hostile(reader, bytes(data))
    expires = reader.choice([None, None, reader.integer()]) if reader.byte() % 2 else None
    expires = hostile(reader, expires) if expires is not None else None
    purpose = purpose_value(reader)
    purpose = hostile(reader, purpose) if purpose is not None else None
    token, error = attempt(box.encrypt, data, expires_at=expires, purpose=purpose)
    must_seal = plain_encrypt_is_valid(data, expires, purpose)
    if must_seal is not None:
        assert (token is not None) == must_seal, (data[:40], expires, purpose, error)
    if token is None:
        return
    assert type(token) is str and token.count(".") == 2
    plaintext = bytes(memoryview(data))  # bytes(data) would ask the hostile __bytes__
    expected_purpose = "session" if purpose is None else str.__str__(purpose) if isinstance(purpose, str) else None
    if expected_purpose is None:
        return
    expiry = None if expires is None else int(expires.value if isinstance(expires, HostileIndex) else expires)
    opened, error = attempt(box.decrypt_for, token, expected_purpose)
    now = time.time()
    if expiry is None or expiry > now + 60:
        assert opened == plaintext, error
    elif expiry < now - 5:
        assert refused(error, {EXPIRED}), error
    _, error = attempt(box.decrypt_for, token, expected_purpose + "x")
    assert refused(error, {MISMATCH}), error
    if expected_purpose != "session":
        _, error = attempt(box.decrypt, token)
        assert refused(error, {MISMATCH}), error
    _, error = attempt(BOXES[1 - BOXES.index(box)].decrypt_for, token, expected_purpose)
    assert refused(error, {INVALID_TOKEN}), error


ALPHABET = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_=."


def op_edited_token(reader):
    box, token, data, purpose = sealed_token(reader)
    edited = token
    for _ in range(1 + reader.byte() % 3):
        at = (reader.byte() | reader.byte() << 8) % (len(edited) + 1)
        kind = reader.byte() % 4
        if kind == 0:
            edited = edited[:at] + reader.choice(ALPHABET) + edited[at + 1:]
        elif kind == 1:
            edited = edited[:at] + edited[at + 1:]
        elif kind == 2:
            edited = edited[:at] + reader.choice(ALPHABET + "\0é\udc80+/ ") + edited[at:]
        else:
            edited = edited[:at]
    opened, error = attempt(box.decrypt_for, edited, purpose)
    if edited == token:
        assert opened == data, error
    else:
        assert opened is None and (refused(error, REFUSED_TOKEN) or type(error) is UnicodeEncodeError), (edited, error)


def op_open_text(reader):
    box = reader.choice(BOXES)
    text = hostile(reader, reader.text())
    purpose = hostile(reader, reader.text()) if reader.byte() & 1 else None
    opened, error = attempt(box.decrypt, text) if purpose is None else attempt(box.decrypt_for, text, purpose)
    assert opened is None, "text from nowhere opened"
    assert error is not None


def op_backend(reader):
    member = reader.choice(BACKENDS)
    other = hostile(reader, reader.choice([*range(len(BACKENDS) + 1), -1, *BACKENDS]))
    equal, error = attempt(lambda: member == other)
    if type(other) in (int, Backend) and error is None:
        assert equal == (int(member) == int(other)), (member, other)
    _, error = attempt(hash, member)
    assert isinstance(error, TypeError)
    _, error = attempt(lambda: member < other)
    assert isinstance(error, (TypeError, HostileError))
    _, error = attempt(Backend)
    assert isinstance(error, TypeError)


OPERATIONS = [op_construct, op_key_env, op_seal_open, op_edited_token, op_open_text, op_backend]


def test_one_input(data):
    reader = Reader(data)
    for _ in range(MAX_STEPS):
        reader.choice(OPERATIONS)(reader)
        if reader.done():
            break


class Writer:
    """Encodes seed programs in the Reader's format."""

    def __init__(self):
        self.out = bytearray()

    def byte(self, value):
        self.out.append(value & 0xFF)
        return self

    def blob(self, value):
        self.out += bytes([len(value) & 0xFF, len(value) >> 8 & 0x7F]) + value
        return self

    def text(self, value):
        return self.blob(value.encode("utf-8", "surrogateescape")).byte(1)


def seeds():
    """Programs built from the values the module's tests use."""
    payloads = [b"user=ada", b"", "\u00e9\u20ac\U0001f600".encode(), b"x" * 300, b'{"user": "ada"}', b"\xff"]
    purposes = ["login", "confirm-email", "p" * 255, "\u00e9" * 128, "\udc80", ""]
    for index, payload in enumerate(payloads):
        for step in range(6):
            w = Writer().byte(OPERATIONS.index(op_seal_open)).byte(index % 2).byte(1).blob(payload).byte(0)
            w.byte(step % 2).byte(index).byte(0).byte(step)
            w.byte(3).text(purposes[step]).byte(step)
            yield bytes(w.out)
        yield bytes(Writer().byte(OPERATIONS.index(op_edited_token)).byte(index % 2).blob(payload)
                    .byte(index % 4).byte(index % 3).byte(2).byte(40).byte(0).byte(index).byte(5).out)
    for value in ["5", "+7", "007", str(2**128 - 1), str(2**128), "", "+", "-1", " 5", "\u0663", "4\udcff2"]:
        for backend in range(2):
            yield bytes(Writer().byte(OPERATIONS.index(op_key_env)).text(value).byte(backend).out)
    for sources in range(4):
        for edge in range(0, len(EDGE_INTS), 3):
            yield bytes(Writer().byte(OPERATIONS.index(op_construct)).byte(edge).byte(edge % 8).byte(sources)
                        .byte(0).byte(edge).byte(edge % 8).byte(sources).byte(edge % 8).out)
    for text in ["a.b.c", "AAAA.AAAA.AAAA", "....", "=" * 8, "\udc80"]:
        yield bytes(Writer().byte(OPERATIONS.index(op_open_text)).byte(0).text(text).byte(0).byte(1).text("p").out)
    for other in range(6):
        yield bytes(Writer().byte(OPERATIONS.index(op_backend)).byte(other).byte(other).byte(other).out)


def main():
    if sys.argv[1:2] == ["--make-seeds"]:
        os.makedirs(sys.argv[2], exist_ok=True)
        for number, seed in enumerate(seeds()):
            with open(os.path.join(sys.argv[2], f"seed-{number:03}"), "wb") as file:
                file.write(seed)
        return
    import atheris

    atheris.Setup(sys.argv, test_one_input)
    atheris.Fuzz()


if __name__ == "__main__":
    main()
