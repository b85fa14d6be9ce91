"""Type information for the tessarils extension module."""

from typing import ClassVar, final

__all__ = ["Tessaril", "Backend"]

@final
class Backend:
    """Which standard AEAD construction to use."""

    AES256_GCM: ClassVar[Backend]
    XCHACHA20_POLY1305: ClassVar[Backend]
    __hash__: ClassVar[None]  # type: ignore[assignment]

    def __int__(self) -> int: ...
    def __eq__(self, other: object, /) -> bool: ...
    def __ne__(self, other: object, /) -> bool: ...

@final
class Tessaril:
    """Encrypts UTF-8 bytes using the selected AEAD backend."""

    def __new__(cls, backend: Backend, key: int | None = None, key_env: str | None = None) -> Tessaril: ...
    def encrypt(self, data: bytes, expires_at: int | None = None, purpose: str | None = None) -> str: ...
    def decrypt(self, token: str) -> bytes: ...
    def decrypt_for(self, token: str, purpose: str) -> bytes: ...
