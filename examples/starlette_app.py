"""A Starlette application (FastAPI's are the same) whose session lives in a sealed cookie,
with e-mail confirmation links.

Sessions, keys and links come from tessarils_web; this file is only the
application. Keys come from APP_KEYS, newest first, each of either backend
(``python -m tessarils_web generate-key`` prints one). Refused cookies and
links are logged with their reason and answered generically. Forms that
change state refuse cross-site requests.

    APP_KEYS=... uvicorn --factory --app-dir examples starlette_app:create_app
    python3 examples/starlette_app.py    # serve on 127.0.0.1:8000 with a random key for this run
"""

from __future__ import annotations

import json
import logging
import os
import sys
import urllib.parse
from datetime import timedelta

from starlette.applications import Starlette
from starlette.middleware import Middleware
from starlette.requests import Request
from starlette.responses import HTMLResponse, PlainTextResponse, Response
from starlette.routing import Route

from tessarils_web import InvalidToken, Keyring, LinkTokens, generate_key_entry
from tessarils_web.starlette import SameOriginMiddleware, SealedSessionMiddleware

KEYS_ENV = "APP_KEYS"
log = logging.getLogger(__name__)


def text(body: str, status: int = 200) -> PlainTextResponse:
    # Plain text, so that a user name echoed back is never read as HTML.
    return PlainTextResponse(body + "\n", status)


async def form_field(request: Request, name: str) -> str:
    # Parsed here rather than with request.form(), which needs one more package.
    fields = urllib.parse.parse_qs((await request.body()).decode())
    return fields.get(name, [""])[0]


async def login_form(request: Request) -> Response:
    return HTMLResponse('<!doctype html><title>login</title><form method="post" action="/login">'
                        '<label>user <input name="user" id="user"></label> <button id="submit">login</button></form>')


async def login(request: Request) -> Response:
    # A real application checks a password here.
    user = await form_field(request, "user")
    if not user:
        return text("name a user", 400)
    request.session.clear()  # a new session, with a new id, not one carried over from before
    request.session["user"] = user
    return text(f"signed in as {user}")


async def logout(request: Request) -> Response:
    request.session.clear()
    return text("signed out")


async def home(request: Request) -> Response:
    if "user" not in request.session:
        return text("not signed in", 401)
    return text(f"hello, {request.session['user']}")


async def note(request: Request) -> Response:
    if "user" not in request.session:
        return text("not signed in", 401)
    if request.method == "POST":
        request.session["note"] = await form_field(request, "note")
    size = len(json.dumps(request.session, separators=(",", ":")).encode())
    return text(f"the session holds {size} bytes of JSON")


def create_app(keys: str | None = None) -> Starlette:
    """Builds the application from key entries, by default those in the APP_KEYS environment variable."""
    keyring = Keyring.from_environment(KEYS_ENV) if keys is None else Keyring.from_entries(keys)
    confirmations = LinkTokens(keyring, "confirm-email", timedelta(hours=24))

    async def request_confirmation(request: Request) -> Response:
        if "user" not in request.session:
            return text("not signed in", 401)
        token = confirmations.seal({"user": request.session["user"], "email": await form_field(request, "email")})
        # A real application e-mails the link; urlencode quotes the token's "=" padding as %3D.
        return text(f"{request.url_for('confirm')}?{urllib.parse.urlencode({'token': token})}")

    async def confirm(request: Request) -> Response:
        try:
            claims = confirmations.open(request.query_params.get("token", ""))
        except InvalidToken as refusal:
            log.warning("confirmation link refused (%s): %s", type(refusal).__name__, refusal)
            return text("this link is invalid or has expired", 400)
        return text(f"confirmed {claims['email']} for {claims['user']}")

    return Starlette(
        routes=[
            Route("/", home),
            Route("/login", login_form, methods=["GET"]),
            Route("/login", login, methods=["POST"]),
            Route("/logout", logout, methods=["POST"]),
            Route("/note", note, methods=["GET", "POST"]),
            Route("/email", request_confirmation, methods=["POST"]),
            Route("/confirm", confirm, name="confirm"),
        ],
        middleware=[
            Middleware(SameOriginMiddleware),
            Middleware(SealedSessionMiddleware, keyring=keyring, max_age=12 * 3600),
        ],
    )


if __name__ == "__main__":
    import uvicorn

    if KEYS_ENV not in os.environ:
        os.environ[KEYS_ENV] = generate_key_entry()
        print(f"{KEYS_ENV} not set: using a random key for this run", file=sys.stderr)
    uvicorn.run(create_app(), host="127.0.0.1", port=8000)
