"""One pass over every call of the tessarils module and every way it fails.

Used by the memory checks (valgrind memcheck, the debug interpreter's
reference and block counts), so it avoids everything that is not the
module: no third-party imports, tokens from a foreign writer are constants.
Each call is checked for the exception type (and, for the engine's kinds,
the exact message), so that a silent change of behaviour cannot turn a
failure path into a success path unnoticed.

    python3 workload.py [ROUNDS]
"""

import ctypes
import importlib.util
import os
import sys
import weakref

import tessarils
from tessarils import Backend, Tessaril

import tessarils_testing as support
from tessarils_testing import Index

KEY = 0x000102030405060708090A0B0C0D0E0F
ENV_GOOD = "TESSARILS_WORKLOAD_KEY"
ENV_BAD = "TESSARILS_WORKLOAD_BAD_KEY"
ENV_UNSET = "TESSARILS_WORKLOAD_UNSET"

# Sealed under KEY by an independent writer: authentic, but one carries a
# plaintext that is not UTF-8 and the other a context record of version 2.
# Keyed by int(backend): Backend members are not hashable.
FOREIGN = {
    0: {
        "not utf-8": "RXx2nznYZEGZwOW9.AQAAAAAAAAAAB3Nlc3Npb24=.GHE3xAecG_63_JBuE4b7SB07",
        "bad record": "vPvIWzfOkcveH8Gw.AgAAAAAAAAAAB3Nlc3Npb24=.Q4VNrlHn8RWXt_3-kKM2A4PJ3GBI",
    },
    1: {
        "not utf-8": "6mtE8TBDbdcp_mm9nozrpqB9HewlsbCH.AQAAAAAAAAAAB3Nlc3Npb24=.L_O0QKkjgQEyPBXfSBRqI89h",
        "bad record": "7-JsB_8NIdfbCzN3dzilxnTTf_E26sE_.AgAAAAAAAAAAB3Nlc3Npb24=._k3tQ86_eCtTGJvkPAgqtogBpagg",
    },
}

MESSAGES = {
    "missing": support.MISSING_KEY,
    "key_env": support.INVALID_KEY_ENV,
    "conflict": support.CONFLICTING_KEYS,
    "invalid": support.INVALID_TOKEN,
    "tampered": support.TAMPERED,
    "expired": support.EXPIRED,
    "zero": support.ZERO_EXPIRY,
    "mismatch": support.MISMATCH,
    "empty": support.EMPTY_PURPOSE,
    "purpose": support.PURPOSE_TOO_LONG,
    "plaintext": support.PLAINTEXT_TOO_LONG,
    "utf8": support.BAD_TEXT,
    "base64": support.INVALID_BASE64,
    "random": support.RANDOM_UNAVAILABLE,
}


class WorkloadError(AssertionError):
    pass


def fails(exc_type, call, *args, message=None, **kwargs):
    try:
        call(*args, **kwargs)
    except exc_type as error:
        if message is not None and str(error) != MESSAGES[message]:
            raise WorkloadError(f"{call!r}: {error!r} instead of {MESSAGES[message]!r}") from None
        return
    except BaseException as error:
        raise WorkloadError(f"{call!r}: {error!r} instead of {exc_type.__name__}") from None
    raise WorkloadError(f"{call!r} did not raise {exc_type.__name__}")


def check(condition, what):
    if not condition:
        raise WorkloadError(what)


def _find_random_shim():
    """The getrandom control of hardening/module/shims/getrandom.c when it is
    preloaded, else None. Looked up once: ctypes keeps state per lookup."""
    try:
        return ctypes.CDLL(None).tessarils_shim_getrandom
    except AttributeError:
        return None


RANDOM_SHIM = _find_random_shim()


def construction():
    boxes = []
    for backend in support.BACKENDS:
        boxes.append(Tessaril(backend, key=KEY))
        boxes.append(Tessaril(backend, KEY))
        boxes.append(Tessaril(backend=backend, key=Index(KEY)))
        boxes.append(Tessaril(backend, key_env=ENV_GOOD))
        boxes.append(Tessaril(backend, key=0))
        boxes.append(Tessaril(backend, key=2**128 - 1))
        boxes.append(Tessaril(backend, key=True))
        fails(ValueError, Tessaril, backend, message="missing")
        fails(ValueError, Tessaril, backend, key=None, key_env=None, message="missing")
        fails(ValueError, Tessaril, backend, key=1, key_env=ENV_GOOD, message="conflict")
        for name in (ENV_UNSET, ENV_BAD, "", "A=B", "NUL\0NAME"):
            fails(ValueError, Tessaril, backend, key_env=name, message="key_env")
        fails(ValueError, Tessaril, backend, key=-1)
        fails(OverflowError, Tessaril, backend, key=2**128)
        fails(OverflowError, Tessaril, backend, key=2**400)
        fails((ValueError, OverflowError), Tessaril, backend, key=-(2**400))
        fails(TypeError, Tessaril, backend, key=1.0)
        fails(TypeError, Tessaril, backend, key="1")
        fails(TypeError, Tessaril, backend, key_env=b"NAME")
        fails(TypeError, Tessaril, backend, 1, "NAME", 4)
        fails(TypeError, Tessaril, backend, key=1, bogus=2)
        fails(TypeError, Tessaril, backend, 1, key=1)
        fails(TypeError, Tessaril, backend, **{"key": 1, "\udcff": 2})
    fails(TypeError, Tessaril, None, key=1)
    fails(TypeError, Tessaril, 0, key=1)
    fails(TypeError, Tessaril, key=1)
    fails(TypeError, Tessaril)
    return boxes


def backend_type():
    a, x = Backend.AES256_GCM, Backend.XCHACHA20_POLY1305
    check(repr(a) == "Backend.AES256_GCM" and str(x) == "Backend.XCHACHA20_POLY1305", "Backend repr")
    check(int(a) == 0 and int(x) == 1, "Backend int")
    check(a == a and a != x and a == 0 and x == 1 and x == True and a != 2**70 and a != "x", "Backend equality")
    check(a == Index(0) and a != None, "Backend equality with index objects")  # noqa: E711
    fails(TypeError, lambda: a < x)
    fails(TypeError, lambda: a <= 0)
    fails(TypeError, hash, a)
    fails(TypeError, Backend)
    fails(AttributeError, setattr, a, "extra", 1)
    fails(TypeError, weakref.ref, a)
    fails(TypeError, type, "Sub", (Backend,), {})


def sealing(box, backend):
    tokens = [
        box.encrypt(b""),
        box.encrypt(b"hello"),
        box.encrypt("gr\u00fc\u00dfe \u2014 \U0001f510".encode(), expires_at=2**64 - 1, purpose="admin"),
        box.encrypt(b"x" * 16384, expires_at=Index(4_000_000_000), purpose="p" * 255),
        box.encrypt(data=b"kw", expires_at=None, purpose=None),
    ]
    fails(ValueError, box.encrypt, b"x" * 16385, message="plaintext")
    fails(ValueError, box.encrypt, b"x", expires_at=0, message="zero")
    fails(ValueError, box.encrypt, b"x", purpose="", message="empty")
    fails(ValueError, box.encrypt, b"x", purpose="\u00e9" * 128, message="purpose")
    fails(ValueError, box.encrypt, b"x" * 16385, expires_at=0, purpose="", message="plaintext")
    fails(ValueError, box.encrypt, b"ab\xe2\x82")
    fails(ValueError, box.encrypt, b"\xff")
    fails(OverflowError, box.encrypt, b"x", expires_at=-1)
    fails(OverflowError, box.encrypt, b"x", expires_at=2**64)
    fails(TypeError, box.encrypt, b"x", expires_at=1.5)
    fails(TypeError, box.encrypt, "text")
    fails(TypeError, box.encrypt, bytearray(b"x"))
    fails(TypeError, box.encrypt, None)
    fails(TypeError, box.encrypt, b"x", purpose=b"admin")
    fails(UnicodeEncodeError, box.encrypt, b"x", purpose="\udcff")
    fails(TypeError, box.encrypt)
    fails(TypeError, box.encrypt, b"x", 1, "p", 4)
    fails(TypeError, box.encrypt, b"x", data=b"y")
    fails(TypeError, box.encrypt, b"x", nonsense=1)
    fails(TypeError, Tessaril.encrypt, None, b"x")

    shim = RANDOM_SHIM
    if shim is not None:
        shim(1)
        try:
            fails(ValueError, box.encrypt, b"x", message="random")
        finally:
            shim(0)
        check(box.decrypt(box.encrypt(b"after")) == b"after", "object unusable after a random failure")
    return tokens


def opening(box, backend, tokens, other):
    check(box.decrypt(tokens[0]) == b"", "empty plaintext")
    check(box.decrypt(tokens[1]) == b"hello", "round trip")
    check(box.decrypt_for(tokens[2], "admin").startswith(b"gr"), "decrypt_for")
    check(len(box.decrypt_for(token=tokens[3], purpose="p" * 255)) == 16384, "largest plaintext")
    check(box.decrypt(token=tokens[4]) == b"kw", "keyword token")
    good = tokens[1]
    nonce, context, sealed = good.split(".")
    fails(ValueError, box.decrypt, "x" * 32769, message="invalid")
    fails(ValueError, box.decrypt_for, "\u6f22" * 32769, "session", message="invalid")  # refused unconverted
    fails(ValueError, box.decrypt, "abc", message="invalid")
    fails(ValueError, box.decrypt, "a.b", message="invalid")
    fails(ValueError, box.decrypt, "..", message="invalid")
    fails(ValueError, box.decrypt, good + ".x", message="base64")
    fails(ValueError, box.decrypt, good + "\n", message="base64")
    fails(ValueError, box.decrypt, good.replace(".", "\u00e9", 1) + ".\u00e9.", message="base64")
    fails(ValueError, box.decrypt, other.encrypt(b"hello"), message="invalid")
    flipped = sealed[:-3] + ("A" if sealed[-3] != "A" else "B") + sealed[-2:]
    fails(ValueError, box.decrypt, f"{nonce}.{context}.{flipped}", message="tampered")
    fails(ValueError, box.decrypt, f"{nonce}.{context}.AAAA", message="tampered")
    fails(ValueError, box.decrypt, box.encrypt(b"x", expires_at=1), message="expired")
    fails(ValueError, box.decrypt, tokens[2], message="mismatch")
    fails(ValueError, box.decrypt_for, good, "", message="mismatch")
    fails(ValueError, box.decrypt_for, good, "s" * 300, message="mismatch")
    fails(ValueError, box.decrypt_for, box.encrypt(b"x", expires_at=1, purpose="a"), "b", message="mismatch")
    fails(ValueError, box.decrypt_for, box.encrypt(b"x", expires_at=1, purpose="a"), "a", message="expired")
    fails(ValueError, box.decrypt, FOREIGN[int(backend)]["not utf-8"], message="utf8")
    fails(ValueError, box.decrypt, FOREIGN[int(backend)]["bad record"], message="invalid")
    fails(TypeError, box.decrypt, good.encode())
    fails(TypeError, box.decrypt, None)
    fails(UnicodeEncodeError, box.decrypt, "\udcff")
    fails(UnicodeEncodeError, box.decrypt, "\U0001f600" * 32769 + "\udcff")
    fails(TypeError, box.decrypt)
    fails(TypeError, box.decrypt, good, good)
    fails(TypeError, box.decrypt, tok=good)
    fails(TypeError, box.decrypt_for, good)
    fails(TypeError, box.decrypt_for, good, b"session")
    fails(TypeError, box.decrypt_for, good, purpose=None)
    fails(TypeError, box.decrypt_for, good, "session", token=good)


def object_surface(box):
    hash(box)
    repr(box)
    check(box == box and box != object(), "identity comparison")
    fails(AttributeError, setattr, box, "extra", 1)
    fails(TypeError, weakref.ref, box)
    fails(TypeError, type, "Sub", (Tessaril,), {})
    for name in ("encrypt", "decrypt", "decrypt_for"):
        getattr(Tessaril, name).__text_signature__
    Tessaril.__text_signature__
    tessarils.__doc__


def reexecute():
    """A second module object from the same definition gets the same types."""
    found = importlib.util.find_spec("tessarils")
    again = importlib.util.module_from_spec(found)
    found.loader.exec_module(again)
    check(again.Tessaril is Tessaril and again.Backend is Backend, "re-execution made new types")
    check(again.__all__ == ["Tessaril", "Backend"], "__all__ after re-execution")


def run(rounds=1):
    os.environ[ENV_GOOD] = str(KEY)
    os.environ[ENV_BAD] = "12x"
    os.environ.pop(ENV_UNSET, None)
    for _ in range(rounds):
        boxes = construction()
        backend_type()
        reexecute()
        # construction() makes the same objects for each backend; each
        # backend's first box opens the next backend's tokens as a stranger.
        firsts = boxes[::len(boxes) // len(support.BACKENDS)]
        aes = firsts[0]
        for i, (box, backend) in enumerate(zip(firsts, support.BACKENDS)):
            other = firsts[(i + 1) % len(firsts)]
            tokens = sealing(box, backend)
            opening(box, backend, tokens, other)
            object_surface(box)
        # The four ways of giving the same key make interchangeable objects.
        for box in boxes[1:4]:
            check(aes.decrypt(box.encrypt(b"same key")) == b"same key", "same key, same backend")
        del boxes


if __name__ == "__main__":
    run(int(sys.argv[1]) if len(sys.argv) > 1 else 1)
    print("workload: ok")
