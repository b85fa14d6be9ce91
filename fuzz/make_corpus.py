#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz harnesses.

    python3 fuzz/make_corpus.py OUTDIR

OUTDIR gets one directory per harness (base64url, token_codec,
context_record, open_token, utf8). The tokens are real: they are sealed here,
independently of the engine, with the key that fuzz/fixed_states.h gives
the opening harness, so the fuzzer starts from inputs that authenticate.
Everything is deterministic, so a run can be reproduced from the script.
"""

import base64
import hashlib
import random
import struct
import sys
from pathlib import Path

from cryptography.hazmat.primitives.ciphers.aead import AESGCM
from nacl.bindings import crypto_aead_xchacha20poly1305_ietf_encrypt

# Keep in step with kFuzzKey in fixed_states.h.
FUZZ_KEY = 0x000102030405060708090A0B0C0D0E0F
AES, XCHACHA = 0, 1
LABELS = {AES: b"aes256gcm", XCHACHA: b"xchacha20poly1305"}
NONCE_BYTES = {AES: 12, XCHACHA: 24}
MAX_TOKEN_BYTES = 32768

# The opening harness's fixed purposes and clock readings, by index.
PURPOSES = [b"session", b"admin", b"", b"p" * 255]
NOWS = [0, 1, 1_700_000_000, 1_700_000_001, 1_765_000_000, 1 << 63, 2**64 - 2, 2**64 - 1]
MODE_RAW, MODE_FOREIGN, MODE_ROUND_TRIP = 0, 2, 3


def derived_key(backend):
    return hashlib.sha256(FUZZ_KEY.to_bytes(16, "big") + LABELS[backend]).digest()


def seal(backend, nonce, record, plaintext):
    key = derived_key(backend)
    if backend == AES:
        return AESGCM(key).encrypt(nonce, plaintext, record)
    return crypto_aead_xchacha20poly1305_ietf_encrypt(plaintext, record, nonce, key)


def b64(data):
    return base64.urlsafe_b64encode(data)


def record(expires_at=0, purpose=b"session", version=1, length=None, extra=b""):
    n = len(purpose) if length is None else length
    return bytes([version]) + expires_at.to_bytes(8, "big") + bytes([n]) + purpose + extra


def token(backend, rec, plaintext, rng):
    nonce = rng.randbytes(NONCE_BYTES[backend])
    return b".".join([b64(nonce), b64(rec), b64(seal(backend, nonce, rec, plaintext))])


def header(backend, mode, purpose_choice=0, now_choice=4):
    return bytes([backend | mode << 1 | purpose_choice << 3 | now_choice << 5])


def main(out):
    rng = random.Random(20250101)
    corpora = {name: {} for name in ("base64url", "token_codec", "context_record", "open_token", "utf8")}

    def add(corpus, data):
        corpora[corpus][hashlib.sha1(data).hexdigest()] = data

    plaintexts = [
        b"",
        b"hello",
        "gr\u00fc\u00dfe \u2014 \U0001f510".encode(),
        b"\xff\xfe",  # authentic but not UTF-8: only a foreign writer makes these
        b"\xed\xa0\x80",
        bytes(rng.choice(b"abcdefghij ") for _ in range(1000)),
        b"x" * 16384,
    ]
    records = [
        (record(), 0),
        (record(purpose=b"admin"), 1),
        (record(purpose=b""), 2),
        (record(purpose=b"p" * 255), 3),
        (record(expires_at=1_700_000_000), 0),
        (record(expires_at=1_700_000_001, purpose=b"admin"), 1),
        (record(expires_at=1), 0),
        (record(expires_at=2**64 - 1), 0),
        (record(purpose="zweck-\u00fc".encode()), 0),
    ]
    # Records that authenticate but must not parse.
    malformed = [
        record(version=0),
        record(version=2),
        record(extra=b"\x00"),
        record(length=8),
        record(length=200),
        record()[:9],
        b"",
        record(purpose=b"\xff"),
        record(purpose=b"ad\xc0\x80"),
    ]

    for backend in (AES, XCHACHA):
        for rec, choice in records:
            for pt in plaintexts[:6]:
                tok = token(backend, rec, pt, rng)
                add("token_codec", tok)
                for now_choice in (2, 4, 7):
                    add("open_token", header(backend, MODE_RAW, choice, now_choice) + tok)
        for rec in malformed:
            tok = token(backend, rec, b"hello", rng)
            add("token_codec", tok)
            add("open_token", header(backend, MODE_RAW) + tok)
        # The largest tokens sealing writes, and a foreign one close to the size limit.
        big = token(backend, record(purpose=b"p" * 255), plaintexts[-1], rng)
        add("token_codec", big)
        add("open_token", header(backend, MODE_RAW, 3) + big)
        near = token(backend, record(), b"y" * 24_400, rng)
        assert len(near) <= MAX_TOKEN_BYTES
        add("open_token", header(backend, MODE_RAW) + near)

        # Structured seeds: a foreign writer's record and plaintext ...
        for rec in [r for r, _ in records] + malformed:
            for now_choice in (0, 2):
                body = struct.pack(">H", len(rec)) + rec + bytes([4]) + NOWS[now_choice].to_bytes(8, "big")
                add("open_token", header(backend, MODE_FOREIGN) + body + b"hello")
        # ... and sealing inputs with one edit of the sealed text.
        for flags, expiry, purpose in [(0, 0, b""), (1, 1_800_000_000, b""), (3, 5, b"admin"), (2, 0, b""),
                                       (2, 0, b"p" * 256), (1, 0, b""), (0x1C, 0, b"")]:
            for edit in (0, 0x20, 0x40):
                body = (bytes([flags | edit]) + expiry.to_bytes(8, "big") + struct.pack(">H", len(purpose)) +
                        purpose + struct.pack(">H", 17) + b"A" + b"hello")
                add("open_token", header(backend, MODE_ROUND_TRIP) + body)

    for tok in list(corpora["token_codec"].values()):
        for field in tok.split(b"."):
            if len(field) <= 4096:
                add("base64url", field)
    for field in [b"", b"QQ==", b"QR==", b"QUI=", b"QUJ=", b"A===", b"AB=C", b"====", b"AAAA", b"-_-_", b"+/+/",
                  b"QQ", b"QUJD\n", "\u00e9AAA".encode()]:
        add("base64url", field)
    for rec, _ in records:
        add("context_record", rec)
    for rec in malformed:
        add("context_record", rec)

    good = corpora["token_codec"]
    sample = next(t for t in good.values() if len(t) < 200)
    for variant in [b"", b"abc", b"a.b", b"..", sample + b".x", sample + b"\n", sample + b" ",
                    sample.replace(b".", b"A", 1), b"A" * MAX_TOKEN_BYTES, b"A" * (MAX_TOKEN_BYTES + 1),
                    b"A" * 16 + b"." + b"A" * 24 + b"." + b"A" * (MAX_TOKEN_BYTES - 42)]:
        add("token_codec", variant)

    # UTF-8 texts (after the harness's shift byte) of every kind, around the
    # 32- and 64-byte blocks, whole and cut or broken near their end.
    mixed = "plain, gr\u00fc\u00dfe \u2014 \u6f22\u5b57 \U0001f600 ".encode() * 40
    for n in (0, 1, 3, 31, 32, 33, 63, 64, 65, 127, 128, 129, 200):
        for shift in (0, 1, 61):
            add("utf8", bytes([shift]) + mixed[:n])
            add("utf8", bytes([shift]) + mixed[:n] + b"\xf0\x9f")
            add("utf8", bytes([shift]) + mixed[:n] + b"\xed\xa0\x80" + mixed[:n])

    for name, files in corpora.items():
        directory = Path(out) / name
        directory.mkdir(parents=True, exist_ok=True)
        for digest, data in files.items():
            (directory / digest).write_bytes(data)
        print(f"{name}: {len(files)} seeds")


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    main(sys.argv[1])
