"""Sign-in, a note kept in the session, and password-reset links sent by e-mail.

A reset link is sealed for its own purpose, lasts an hour, and is bound to
a digest of the user's password hash: setting a new password through it
changes the hash, so the link cannot be used again. It goes only to the
address on file, and the answer is the same whether the account exists.
"""

from __future__ import annotations

import html
import json
import logging
import urllib.parse
from dataclasses import dataclass
from datetime import timedelta
from typing import Any

from django.contrib.auth.hashers import make_password
from django.core.mail import send_mail
from django.http import HttpRequest, HttpResponse
from django.middleware.csrf import get_token
from django.urls import reverse
from django.views.decorators.http import require_GET, require_http_methods, require_POST

from tessarils_web import InvalidToken, LinkTokens
from tessarils_web.django import keyring

log = logging.getLogger(__name__)
SENT = "if that account exists, a reset link is on its way to its e-mail address"


@dataclass
class Account:
    email: str
    password_hash: str


# Stands in for the user table.
ACCOUNTS = {"ada": Account("ada@example.com", make_password(None))}


def reset_links() -> LinkTokens:
    return LinkTokens(keyring(), "reset-password", timedelta(hours=1))


def text(body: str, status: int = 200) -> HttpResponse:
    # Plain text, so that a user name echoed back is never read as HTML.
    return HttpResponse(body + "\n", status=status, content_type="text/plain; charset=utf-8")


def form(request: HttpRequest, action: str, fields: dict[str, str], hidden: dict[str, str] | None = None,
         title: str = "") -> HttpResponse:
    inputs = [f'<input type="hidden" name="csrfmiddlewaretoken" value="{html.escape(get_token(request))}">']
    inputs += [f'<input type="hidden" name="{name}" value="{html.escape(value)}">'
               for name, value in (hidden or {}).items()]
    inputs += [f'<label>{label} <input name="{name}" id="{name}"></label>' for name, label in fields.items()]
    return HttpResponse(
        f'<!doctype html><title>{action}</title><p>{html.escape(title)}</p><form method="post" action="/{action}">'
        f'{"".join(inputs)} <button id="submit">{action}</button></form>'
    )


@require_http_methods(["GET", "POST"])
def login(request: HttpRequest) -> HttpResponse:
    if request.method == "GET":
        return form(request, "login", {"user": "user"})
    # A real application checks a password here.
    user = request.POST.get("user", "")
    if not user:
        return text("name a user", 400)
    request.session.flush()  # a new session, with a new id, not one carried over from before
    request.session["user"] = user
    return text(f"signed in as {user}")


@require_POST
def logout(request: HttpRequest) -> HttpResponse:
    request.session.flush()
    return text("signed out")


@require_GET
def home(request: HttpRequest) -> HttpResponse:
    if "user" not in request.session:
        return text("not signed in", 401)
    return text(f"hello, {request.session['user']}")


@require_http_methods(["GET", "POST"])
def note(request: HttpRequest) -> HttpResponse:
    if "user" not in request.session:
        return text("not signed in", 401)
    if request.method == "POST":
        request.session["note"] = request.POST.get("note", "")
    size = len(json.dumps(dict(request.session.items()), separators=(",", ":")).encode())
    return text(f"the session holds {size} bytes of JSON")


@require_POST
def password_reset(request: HttpRequest) -> HttpResponse:
    user = request.POST.get("user", "")
    account = ACCOUNTS.get(user)
    if account is not None:
        token = reset_links().seal({"user": user}, bound_to=account.password_hash)
        query = urllib.parse.urlencode({"token": token})  # quotes the token's "=" padding as %3D
        link = request.build_absolute_uri(f"{reverse('reset')}?{query}")
        send_mail("Reset your password", f"Choose a new password within the hour: {link}\n", None, [account.email])
    return text(SENT)


@require_http_methods(["GET", "POST"])
def reset(request: HttpRequest) -> HttpResponse:
    token = request.GET.get("token", "") if request.method == "GET" else request.POST.get("token", "")
    user = _reset_claim(token)
    if user is None:
        return text("this link is invalid or has expired", 400)
    if request.method == "GET":
        return form(request, "reset", {"password": "new password"}, {"token": token},
                    title=f"choose a new password for {user}")
    ACCOUNTS[user].password_hash = make_password(request.POST.get("password", ""))
    return text(f"password changed for {user}")


def _reset_claim(token: str) -> str | None:
    """The user a reset link names, while the link is authentic, unexpired and the password unchanged."""

    def current_hash(claims: dict[str, Any]) -> str | None:
        account = ACCOUNTS.get(str(claims.get("user")))
        return None if account is None else account.password_hash

    try:
        claims = reset_links().open(token, bound_to=current_hash)
    except InvalidToken as refusal:
        log.warning("password-reset link refused (%s): %s", type(refusal).__name__, refusal)
        return None
    return str(claims["user"])
