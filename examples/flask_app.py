"""A Flask application whose session lives in a sealed cookie, with e-mail confirmation links.

Sessions, keys and links come from tessarils_web; this file is only the
application. Keys come from APP_KEYS, newest first, each of either backend
(``python -m tessarils_web generate-key`` prints one):

    APP_KEYS="XCHACHA20_POLY1305:<decimal key> AES256_GCM:<older decimal key>"

Refused cookies and links are logged with their reason and answered
generically. Forms that change state refuse cross-site requests.

    APP_KEYS=... flask --app examples/flask_app run
    python3 examples/flask_app.py    # serve with a random key for this run
"""

from __future__ import annotations

import json
import logging
import os
import sys
from datetime import timedelta

from flask import Flask, Response, request, session, url_for

from tessarils_web import InvalidToken, Keyring, LinkTokens, generate_key_entry
from tessarils_web.flask import SealedSessionInterface, refuse_cross_site

KEYS_ENV = "APP_KEYS"
log = logging.getLogger(__name__)


def text(body: str, status: int = 200) -> Response:
    # Plain text, so that a user name echoed back is never read as HTML.
    return Response(body + "\n", status, mimetype="text/plain")


def create_app(keys: str | None = None) -> Flask:
    """Builds the application from key entries, by default those in the APP_KEYS environment variable."""
    keyring = Keyring.from_environment(KEYS_ENV) if keys is None else Keyring.from_entries(keys)
    confirmations = LinkTokens(keyring, "confirm-email", timedelta(hours=24))
    app = Flask(__name__)
    app.config.update(
        PERMANENT_SESSION_LIFETIME=timedelta(hours=12),
        SESSION_COOKIE_SECURE=True,
        SESSION_COOKIE_HTTPONLY=True,
        SESSION_COOKIE_SAMESITE="Lax",
    )
    app.session_interface = SealedSessionInterface(keyring)
    refuse_cross_site(app)

    @app.get("/login")
    def login_form() -> Response:
        return Response('<!doctype html><title>login</title><form method="post" action="/login">'
                        '<label>user <input name="user" id="user"></label> <button id="submit">login</button></form>',
                        mimetype="text/html")

    @app.post("/login")
    def login() -> Response:
        # A real application checks a password here.
        user = request.form.get("user", "")
        if not user:
            return text("name a user", 400)
        session.clear()  # a new session, with a new id, not one carried over from before
        session.permanent = True
        session["user"] = user
        return text(f"signed in as {user}")

    @app.post("/logout")
    def logout() -> Response:
        session.clear()
        return text("signed out")

    @app.get("/")
    def home() -> Response:
        if "user" not in session:
            return text("not signed in", 401)
        return text(f"hello, {session['user']}")

    @app.route("/note", methods=["GET", "POST"])
    def note() -> Response:
        if "user" not in session:
            return text("not signed in", 401)
        if request.method == "POST":
            session["note"] = request.form.get("note", "")
        size = len(json.dumps(dict(session), separators=(",", ":")).encode())
        return text(f"the session holds {size} bytes of JSON")

    @app.post("/email")
    def request_confirmation() -> Response:
        if "user" not in session:
            return text("not signed in", 401)
        token = confirmations.seal({"user": session["user"], "email": request.form.get("email", "")})
        # A real application e-mails the link; url_for quotes the token's "=" padding as %3D.
        return text(url_for("confirm", token=token, _external=True))

    @app.get("/confirm")
    def confirm() -> Response:
        try:
            claims = confirmations.open(request.args.get("token", ""))
        except InvalidToken as refusal:
            log.warning("confirmation link refused (%s): %s", type(refusal).__name__, refusal)
            return text("this link is invalid or has expired", 400)
        return text(f"confirmed {claims['email']} for {claims['user']}")

    return app


if __name__ == "__main__":
    if KEYS_ENV not in os.environ:
        os.environ[KEYS_ENV] = generate_key_entry()
        print(f"{KEYS_ENV} not set: using a random key for this run", file=sys.stderr)
    create_app().run()
