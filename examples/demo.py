"""A short tour of tessarils: seal and open a payload under each backend,
then watch a wrong purpose and an expired token being refused."""

import secrets
import time

from tessarils import Backend, Tessaril


def main():
    key = secrets.randbits(128)  # keep this secret, and the same in every process that shares tokens

    for backend in (Backend.AES256_GCM, Backend.XCHACHA20_POLY1305):
        box = Tessaril(backend, key=key)
        token = box.encrypt("user=42;role=reader \u2713".encode(), purpose="login")
        print(f"{backend}")
        print(f"  token:  {token}")
        print(f"  opened: {box.decrypt_for(token, 'login').decode()}")

    box = Tessaril(Backend.XCHACHA20_POLY1305, key=key)

    login = box.encrypt(b"user=42", purpose="login")
    try:
        box.decrypt_for(login, "password-reset")
    except ValueError as error:
        print(f"wrong purpose refused: {error}")

    stale = box.encrypt(b"user=42", expires_at=int(time.time()) - 60)
    try:
        box.decrypt(stale)
    except ValueError as error:
        print(f"expired token refused: {error}")

    fresh = box.encrypt(b"user=42", expires_at=int(time.time()) + 3600)
    print(f"token valid for an hour opens: {box.decrypt(fresh)!r}")


if __name__ == "__main__":
    main()
