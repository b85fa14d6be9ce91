"""A small web application that keeps its login session in a sealed cookie.

Only the standard library and tessarils: the server keeps no session store.
The cookie holds the user name, sealed for the purpose "login" with a
one-hour expiry; a tampered, expired or foreign cookie is refused with a
generic answer, and the reason goes to the server's log only.

    python3 examples/session_cookie_app.py            # serve on 127.0.0.1:8000
    python3 examples/session_cookie_app.py --selftest # drive the app in-process
"""

import http.cookies
import logging
import os
import secrets
import sys
import time
import urllib.parse
from collections.abc import Callable, Iterable
from wsgiref.simple_server import make_server
from wsgiref.types import StartResponse, WSGIApplication, WSGIEnvironment
from wsgiref.util import setup_testing_defaults

from tessarils import Backend, Tessaril

COOKIE = "session"
PURPOSE = "login"
LIFETIME_SECONDS = 3600

log = logging.getLogger(__name__)


def make_app(box: Tessaril, clock: Callable[[], float] = time.time) -> WSGIApplication:
    """Returns a WSGI application that issues and checks sealed session cookies."""

    def app(environ: WSGIEnvironment, start_response: StartResponse) -> Iterable[bytes]:
        path = environ.get("PATH_INFO", "/")
        if path == "/login":
            query = urllib.parse.parse_qs(environ.get("QUERY_STRING", ""))
            user = query.get("user", [""])[0]
            if not user:
                return respond(start_response, "400 Bad Request", "name a user: /login?user=NAME")
            token = box.encrypt(user.encode(), expires_at=int(clock()) + LIFETIME_SECONDS, purpose=PURPOSE)
            cookie = f"{COOKIE}={token}; HttpOnly; Secure; SameSite=Strict; Path=/; Max-Age={LIFETIME_SECONDS}"
            return respond(start_response, "200 OK", f"signed in as {user}", [("Set-Cookie", cookie)])
        if path == "/":
            cookies = http.cookies.SimpleCookie(environ.get("HTTP_COOKIE", ""))
            if COOKIE not in cookies:
                return respond(start_response, "401 Unauthorized", "no session")
            try:
                user = box.decrypt_for(cookies[COOKIE].value, PURPOSE).decode()
            except ValueError as error:
                # The reason stays on the server: telling the client would show a
                # forger which of purpose, expiry or tag its forgery failed on.
                log.warning("session cookie refused: %s", error)
                return respond(start_response, "401 Unauthorized", "session refused")
            return respond(start_response, "200 OK", f"hello, {user}")
        return respond(start_response, "404 Not Found", "not found")

    return app


def respond(
    start_response: StartResponse, status: str, text: str, headers: Iterable[tuple[str, str]] = ()
) -> list[bytes]:
    body = (text + "\n").encode()
    start_response(status, [("Content-Type", "text/plain; charset=utf-8"), *headers])
    return [body]


def call(app: WSGIApplication, path: str, cookie: str | None = None) -> tuple[str, str, dict[str, str]]:
    """Runs one request through `app` in-process; returns (status, body, headers)."""
    environ: WSGIEnvironment = {}
    setup_testing_defaults(environ)
    environ["PATH_INFO"], _, environ["QUERY_STRING"] = path.partition("?")
    if cookie is not None:
        environ["HTTP_COOKIE"] = f"{COOKIE}={cookie}"
    status_line = ""
    response_headers: dict[str, str] = {}

    def start_response(
        status: str, headers: list[tuple[str, str]], exc_info: object = None
    ) -> Callable[[bytes], object]:
        nonlocal status_line
        status_line = status
        response_headers.update(headers)
        return lambda data: None

    body = b"".join(app(environ, start_response)).decode()
    return status_line, body.strip(), response_headers


def issued_cookie(headers: dict[str, str]) -> str:
    return http.cookies.SimpleCookie(headers["Set-Cookie"])[COOKIE].value


def selftest() -> None:
    logging.basicConfig(stream=sys.stdout, format="  server log: %(message)s")
    box = Tessaril(Backend.XCHACHA20_POLY1305, key=secrets.randbits(128))
    app = make_app(box)
    status, body, headers = call(app, "/login?user=ada")
    token = issued_cookie(headers)
    print(f"GET /login?user=ada  -> {status}: {body}\n  cookie: {token[:60]}...")
    print(f"GET / (valid cookie) -> {call(app, '/', token)[:2]}")
    i = token.rfind(".") + 2
    flipped = token[:i] + ("B" if token[i] == "A" else "A") + token[i + 1 :]
    print(f"GET / (tampered)     -> {call(app, '/', flipped)[:2]}")
    foreign = Tessaril(Backend.XCHACHA20_POLY1305, key=secrets.randbits(128))
    print(f"GET / (other server) -> {call(app, '/', issued_cookie(call(make_app(foreign), '/login?user=eve')[2]))[:2]}")
    later = make_app(box, clock=lambda: time.time() - 2 * LIFETIME_SECONDS)
    print(f"GET / (expired)      -> {call(app, '/', issued_cookie(call(later, '/login?user=ada')[2]))[:2]}")


def main() -> None:
    if "--selftest" in sys.argv:
        selftest()
        return
    key_env = "SESSION_KEY"
    if key_env not in os.environ:
        os.environ[key_env] = str(secrets.randbits(128))
        print(f"{key_env} not set: using a random key for this run", file=sys.stderr)
    app = make_app(Tessaril(Backend.AES256_GCM, key_env=key_env))
    with make_server("127.0.0.1", 8000, app) as server:
        print("serving on http://127.0.0.1:8000 (try /login?user=ada, then /)", file=sys.stderr)
        server.serve_forever()


if __name__ == "__main__":
    main()
