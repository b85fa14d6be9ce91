"""Every implementation that bench/compare.py measures, set up once, as an
application would use it, so that the benchmark and its round-trip test
(bench/test_peers.py) exercise exactly the same calls.

Each implementation gives two statements that timeit compiles: ``seal``
turns ``data`` into a token and ``open`` turns ``sealed`` back into the
payload, with the key objects built beforehand, outside any timed loop.
Where a format can bind a context to a token (tessarils' purpose, PASETO's
implicit assertion, Tink's associated data, itsdangerous' salt), the timed
calls bind ``"session"``, the purpose a default tessarils token carries, so
that every format does the same work. A library that does not import (no
release for this interpreter) stays in the list with the reason.
"""

from __future__ import annotations

import base64
import importlib.metadata
import os
import random
from collections.abc import Callable
from dataclasses import dataclass, field
from types import ModuleType

# The JSON payload whose token length is compared, and the purpose it is sealed for.
PAYLOAD_JSON = b'{"user":"ada","email":"ada@example.com"}'
PURPOSE = "confirm-email"
CONTEXT = b"session"

# The tessarils context record of a token with the default purpose and no
# expiry: the bare cipher calls authenticate it as associated data.
CONTEXT_RECORD = bytes([1, 0, 0, 0, 0, 0, 0, 0, 0, len(CONTEXT)]) + CONTEXT

OURS = "ours"
TOKEN = "token"  # an encrypted token format: the targets compare against these
SIGNED = "signed"  # a token that is signed, not encrypted
PRIMITIVE = "primitive"  # a bare cipher call or a hand-rolled construction, not a format
VARIANT = "variant"  # tessarils on another kind of text: compared with itself only


@dataclass(frozen=True)
class Features:
    """What a format does for the application, in a few words each."""

    encrypts: str
    expiry: str
    context: str
    rotation: str


@dataclass
class Setup:
    """Key objects built once, and the calls that use them."""

    names: dict[str, object]
    seal: str
    open: str
    # The payload as the call takes it (itsdangerous serializes str, not bytes).
    argument: Callable[[bytes], object] = lambda data: data
    # The token of PAYLOAD_JSON sealed for PURPOSE where the format carries a purpose.
    json_token: Callable[[], str | bytes] | None = None


@dataclass
class Implementation:
    name: str
    kind: str
    features: Features | None
    build: Callable[[], Setup]
    setup: Setup | None = field(default=None, init=False)
    unavailable: str | None = field(default=None, init=False)

    def load(self) -> None:
        try:
            self.setup = self.build()
        except ImportError as error:
            self.unavailable = f"does not import: {error}"


def ascii_payload(size: int) -> bytes:
    """|size| bytes of base64url text from a fixed seed: as incompressible
    as text gets, so that a format that compresses (itsdangerous) is not
    timed on a payload that shrinks to nothing."""
    raw = random.Random(size).randbytes(size)
    return base64.urlsafe_b64encode(raw)[:size]


# Mixed non-ASCII text: accented Latin (2 bytes a character), CJK (3) and
# emoji (4), with a few ASCII spaces.
TEXT_UNIT = "gr\u00fc\u00dfe \u00e9t\u00e9 \u6f22\u5b57\u304b\u306a \U0001f600\U0001f510 "


def non_ascii_text(size: int) -> bytes:
    """|size| bytes of UTF-8: whole characters of TEXT_UNIT, then spaces."""
    text, length = [], 0
    while True:
        for char in TEXT_UNIT:
            width = len(char.encode())
            if length + width > size:
                return ("".join(text) + " " * (size - length)).encode()
            text.append(char)
            length += width


def b64(data: bytes) -> bytes:
    return base64.urlsafe_b64encode(data)


def unb64(token: bytes) -> bytes:
    return base64.urlsafe_b64decode(token)


# --- tessarils -----------------------------------------------------------------

OUR_FEATURES = Features(
    encrypts="yes",
    expiry="yes: set by the sealer, checked on opening",
    context="yes: purpose, must match exactly",
    rotation="by hand: one object per key, tried in turn",
)


def backend_names(module: ModuleType) -> list[str]:
    """The names of the module's Backend members, in tag order."""
    members = [value for value in vars(module.Backend).values() if isinstance(value, module.Backend)]
    return [repr(member).removeprefix("Backend.") for member in sorted(members, key=int)]


def ours(backend_name: str, text: bool = False) -> Callable[[], Setup]:
    def build() -> Setup:
        import tessarils

        box = tessarils.Tessaril(getattr(tessarils.Backend, backend_name), key=int.from_bytes(os.urandom(16)))
        return Setup(
            names={"box": box},
            seal="box.encrypt(data)",
            open="box.decrypt(sealed)",
            argument=(lambda data: non_ascii_text(len(data))) if text else (lambda data: data),
            json_token=None if text else (lambda: box.encrypt(PAYLOAD_JSON, purpose=PURPOSE)),
        )

    return build


# --- token formats -------------------------------------------------------------


def paseto() -> Setup:
    import pyseto

    key = pyseto.Key.new(version=4, purpose="local", key=os.urandom(32))
    return Setup(
        names={"pyseto": pyseto, "key": key, "context": CONTEXT},
        seal="pyseto.encode(key, data, implicit_assertion=context)",
        open="pyseto.decode(key, sealed, implicit_assertion=context).payload",
        json_token=lambda: pyseto.encode(key, PAYLOAD_JSON, implicit_assertion=PURPOSE.encode()),
    )


JWE_HEADER = {"alg": "dir", "enc": "A256GCM"}


def jwe() -> Setup:
    from joserfc import jwe as joserfc_jwe
    from joserfc.jwk import OctKey
    from joserfc.registry import HeaderParameter

    key = OctKey.import_key(os.urandom(32))
    # A purpose has no registered header parameter: a private one must be declared.
    with_purpose = joserfc_jwe.JWERegistry(header_registry={"purpose": HeaderParameter("Purpose", "str")})
    return Setup(
        names={"jwe": joserfc_jwe, "key": key, "header": JWE_HEADER},
        seal="jwe.encrypt_compact(header, data, key)",
        open="jwe.decrypt_compact(sealed, key).plaintext",
        json_token=lambda: joserfc_jwe.encrypt_compact(
            JWE_HEADER | {"purpose": PURPOSE}, PAYLOAD_JSON, key, registry=with_purpose
        ),
    )


def branca() -> Setup:
    from branca import Branca

    token = Branca(key=os.urandom(32))
    return Setup(
        names={"branca": token},
        seal="branca.encode(data)",
        open="branca.decode(sealed)",
        json_token=lambda: token.encode(PAYLOAD_JSON),
    )


def fernet() -> Setup:
    from cryptography.fernet import Fernet

    token = Fernet(Fernet.generate_key())
    return Setup(
        names={"fernet": token},
        seal="fernet.encrypt(data)",
        open="fernet.decrypt(sealed)",
        json_token=lambda: token.encrypt(PAYLOAD_JSON),
    )


def tink_aead():
    """Tink's AEAD primitive from a fresh AES256_GCM keyset, with its handle."""
    import tink
    from tink import aead

    aead.register()
    handle = tink.new_keyset_handle(aead.aead_key_templates.AES256_GCM)
    return handle.primitive(aead.Aead), handle


def tink() -> Setup:
    primitive, _ = tink_aead()
    # Tink returns bytes; a token travels as text, so it is base64url-encoded.
    return Setup(
        names={"tink": primitive, "b64": b64, "unb64": unb64, "context": CONTEXT},
        seal="b64(tink.encrypt(data, context))",
        open="tink.decrypt(unb64(sealed), context)",
        json_token=lambda: b64(primitive.encrypt(PAYLOAD_JSON, PURPOSE.encode())),
    )


def itsdangerous() -> Setup:
    import json

    from itsdangerous import URLSafeTimedSerializer

    serializer = URLSafeTimedSerializer(os.urandom(32), salt=CONTEXT)
    for_purpose = URLSafeTimedSerializer(os.urandom(32), salt=PURPOSE)
    return Setup(
        names={"serializer": serializer},
        seal="serializer.dumps(data)",
        open="serializer.loads(sealed)",
        argument=lambda data: data.decode(),
        json_token=lambda: for_purpose.dumps(json.loads(PAYLOAD_JSON)),
    )


# --- bare primitives, for scale ------------------------------------------------------


def hand_rolled() -> Setup:
    from cryptography.hazmat.primitives.ciphers.aead import AESGCM

    aesgcm = AESGCM(AESGCM.generate_key(256))
    urandom = os.urandom

    def seal(data: bytes) -> bytes:
        nonce = urandom(12)
        return b64(nonce + aesgcm.encrypt(nonce, data, None))

    def open_(token: bytes) -> bytes:
        raw = unb64(token)
        return aesgcm.decrypt(raw[:12], raw[12:], None)

    return Setup(names={"seal": seal, "open": open_}, seal="seal(data)", open="open(sealed)")


def bare_aesgcm() -> Setup:
    from cryptography.hazmat.primitives.ciphers.aead import AESGCM

    return Setup(
        names={"aesgcm": AESGCM(AESGCM.generate_key(256)), "nonce": os.urandom(12), "context": CONTEXT_RECORD},
        seal="aesgcm.encrypt(nonce, data, context)",
        open="aesgcm.decrypt(nonce, sealed, context)",
    )


def bare_chacha() -> Setup:
    from cryptography.hazmat.primitives.ciphers.aead import ChaCha20Poly1305

    return Setup(
        names={
            "chacha": ChaCha20Poly1305(ChaCha20Poly1305.generate_key()),
            "nonce": os.urandom(12),
            "context": CONTEXT_RECORD,
        },
        seal="chacha.encrypt(nonce, data, context)",
        open="chacha.decrypt(nonce, sealed, context)",
    )


def bare_nacl() -> Setup:
    import nacl.bindings

    return Setup(
        names={
            "nacl_encrypt": nacl.bindings.crypto_aead_xchacha20poly1305_ietf_encrypt,
            "nacl_decrypt": nacl.bindings.crypto_aead_xchacha20poly1305_ietf_decrypt,
            "key": os.urandom(32),
            "nonce": os.urandom(24),
            "context": CONTEXT_RECORD,
        },
        seal="nacl_encrypt(data, context, nonce, key)",
        open="nacl_decrypt(sealed, context, nonce, key)",
    )


OURS_AES = "tessarils AES256_GCM"
OURS_XCHACHA = "tessarils XCHACHA20_POLY1305"
OURS_AES_TEXT = "tessarils AES256_GCM, non-ASCII"
OURS_XCHACHA_TEXT = "tessarils XCHACHA20_POLY1305, non-ASCII"
PASETO = "PASETO v4.local (pyseto)"
JWE = "JWE dir+A256GCM (joserfc)"
BRANCA = "Branca (pybranca)"
FERNET = "Fernet (cryptography)"
TINK = "Tink AEAD AES256_GCM + base64url"
ITSDANGEROUS = "itsdangerous, signed only"
HAND_ROLLED = "AESGCM + urandom + base64"
BARE_AESGCM = "bare AESGCM"
BARE_CHACHA = "bare ChaCha20Poly1305"
BARE_NACL = "bare PyNaCl XChaCha20"


def implementations() -> list[Implementation]:
    """Every implementation, loaded; the order is the tables' and the picture's."""
    found = [
        Implementation(OURS_AES, OURS, OUR_FEATURES, ours("AES256_GCM")),
        Implementation(OURS_XCHACHA, OURS, OUR_FEATURES, ours("XCHACHA20_POLY1305")),
        Implementation(OURS_AES_TEXT, VARIANT, None, ours("AES256_GCM", text=True)),
        Implementation(OURS_XCHACHA_TEXT, VARIANT, None, ours("XCHACHA20_POLY1305", text=True)),
        Implementation(PASETO, TOKEN, Features(
            encrypts="yes (XChaCha20, BLAKE2b-MAC)",
            expiry="JSON payloads only: `exp` claim, checked on decoding",
            context="yes: implicit assertion (not in the token), footer",
            rotation="yes: decode() takes a list of keys",
        ), paseto),
        Implementation(JWE, TOKEN, Features(
            encrypts="yes (AES-256-GCM)",
            expiry="only as an encrypted JWT's `exp` claim",
            context="protected header (a private parameter must be registered)",
            rotation="yes: key sets, chosen by `kid`",
        ), jwe),
        Implementation(BRANCA, TOKEN, Features(
            encrypts="yes (XChaCha20-Poly1305)",
            expiry="issue time authenticated; the opener passes a ttl",
            context="no",
            rotation="no",
        ), branca),
        Implementation(FERNET, TOKEN, Features(
            encrypts="yes (AES-128-CBC, HMAC-SHA256)",
            expiry="issue time authenticated; the opener passes a ttl",
            context="no",
            rotation="yes: MultiFernet",
        ), fernet),
        Implementation(TINK, TOKEN, Features(
            encrypts="yes (AES-256-GCM)",
            expiry="no (the application's payload)",
            context="yes: associated data (not in the token)",
            rotation="yes: keysets with a primary key",
        ), tink),
        Implementation(ITSDANGEROUS, SIGNED, Features(
            encrypts="NO: signed only, the payload is readable",
            expiry="issue time signed; the opener passes max_age",
            context="yes: salt (not in the token)",
            rotation="yes: a list of secret keys",
        ), itsdangerous),
        Implementation(HAND_ROLLED, PRIMITIVE, None, hand_rolled),
        Implementation(BARE_AESGCM, PRIMITIVE, None, bare_aesgcm),
        Implementation(BARE_CHACHA, PRIMITIVE, None, bare_chacha),
        Implementation(BARE_NACL, PRIMITIVE, None, bare_nacl),
    ]
    for implementation in found:
        implementation.load()
    return found


# Distributions whose versions the benchmark prints, in the requirements' order.
DISTRIBUTIONS = ["cryptography", "PyNaCl", "pyseto", "joserfc", "pybranca", "tink", "itsdangerous"]


def distribution_version(name: str) -> str:
    try:
        return importlib.metadata.version(name)
    except importlib.metadata.PackageNotFoundError:
        return "not installed"
