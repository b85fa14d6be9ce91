"""Python bindings for the tessaril 3.0 token library, sealing with AES-256-GCM or XChaCha20-Poly1305.

Encrypt UTF-8 bytes with Tessaril and an explicit Backend. Version 3.0
retains 2.x token compatibility; use expires_at=None for no expiry.
"""

from typing import ClassVar, final, overload

__all__ = ["Tessaril", "Backend"]

@final
class Backend:
    """Which standard AEAD construction to use. There is no "auto" option —
    a token minted under one backend can't be read by the other, so pick
    one explicitly and keep it consistent across every process that needs
    to read the same tokens.
    """

    AES256_GCM: ClassVar[Backend]
    XCHACHA20_POLY1305: ClassVar[Backend]
    __hash__: ClassVar[None]  # type: ignore[assignment]

    def __int__(self) -> int: ...
    def __eq__(self, other: object, /) -> bool: ...
    def __ne__(self, other: object, /) -> bool: ...

@final
class Tessaril:
    """Encrypts UTF-8 bytes using the selected AEAD backend.

    Pass exactly one of key (a random 128-bit integer) or key_env
    (the name of an environment variable containing a decimal key).
    Reuse the same key and backend across processes that share tokens.
    Invalid key configuration raises ValueError; a direct key above
    2**128 - 1 raises OverflowError. A negative direct key raises ValueError
    or OverflowError depending on the Python interpreter.

    Version 3.0 reads 2.x tokens, but rejects expires_at=0 on encryption.
    """

    # Exactly one key source: passing both or neither is a type error.
    @overload
    def __new__(cls, backend: Backend, key: int, key_env: None = None) -> Tessaril: ...
    @overload
    def __new__(cls, backend: Backend, key: None = None, *, key_env: str) -> Tessaril: ...
    @overload
    def __new__(cls, backend: Backend, key: None, key_env: str) -> Tessaril: ...
    def encrypt(self, data: bytes, expires_at: int | None = None, purpose: str | None = None) -> str:
        """Encrypts up to 16,384 UTF-8 bytes and returns a str token.

        expires_at must be None (no expiry) or a positive Unix timestamp
        in seconds; zero raises ValueError. An explicit purpose must contain
        1 to 255 UTF-8 bytes; None uses "session".

        Failures of the token engine, unavailable operating system randomness
        included, raise ValueError. An expiry outside the
        unsigned 64-bit integer range raises OverflowError.
        """
    def decrypt(self, token: str) -> bytes:
        """Decrypts a str token for the default purpose ("session") to bytes.

        Raises ValueError for malformed, oversized, tampered, expired,
        wrong-key, wrong-backend, or wrong-purpose tokens. Authenticity is
        verified before purpose and expiry. Use decrypt_for for another purpose.
        """
    def decrypt_for(self, token: str, purpose: str) -> bytes:
        """Decrypts a str token to bytes, requiring an exact purpose match.

        purpose is a required str and can also be "session". Token errors
        raise ValueError, as with decrypt; authenticity is checked before
        purpose and expiry.
        """
