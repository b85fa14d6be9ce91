"""Sign-in, a note kept in the session, and password-reset links sealed for their own purpose."""

from __future__ import annotations

import html
import json
import logging
import urllib.parse
from datetime import timedelta

from django.http import HttpRequest, HttpResponse
from django.middleware.csrf import get_token
from django.urls import reverse
from django.views.decorators.http import require_GET, require_http_methods, require_POST

from django_app import sealed_session

RESET_PURPOSE = "reset-password"
RESET_LIFETIME = timedelta(hours=1)
log = logging.getLogger(__name__)


def text(body: str, status: int = 200) -> HttpResponse:
    # Plain text, so that a user name echoed back is never read as HTML.
    return HttpResponse(body + "\n", status=status, content_type="text/plain; charset=utf-8")


def form(request: HttpRequest, action: str, field: str) -> HttpResponse:
    token = html.escape(get_token(request))
    return HttpResponse(
        f'<!doctype html><title>{action}</title><form method="post" action="/{action}">'
        f'<input type="hidden" name="csrfmiddlewaretoken" value="{token}">'
        f'<label>{field} <input name="{field}" id="{field}"></label> <button id="submit">{action}</button></form>'
    )


@require_http_methods(["GET", "POST"])
def login(request: HttpRequest) -> HttpResponse:
    if request.method == "GET":
        return form(request, "login", "user")
    # A real application checks a password here.
    user = request.POST.get("user", "")
    if not user:
        return text("name a user", 400)
    request.session.flush()  # a new session, not one carried over from before
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
    size = len(sealed_session.session_json(dict(request.session.items())).encode())
    return text(f"the session holds {size} bytes of JSON")


@require_POST
def password_reset(request: HttpRequest) -> HttpResponse:
    user = request.POST.get("user", "")
    if not user:
        return text("name a user", 400)
    # A real application also seals a digest of the current password hash, so
    # that the link stops working once used, and e-mails it instead.
    claim = json.dumps({"user": user}).encode()
    token = sealed_session.keyring().seal(claim, int(sealed_session.clock() + RESET_LIFETIME.total_seconds()), RESET_PURPOSE)
    query = urllib.parse.urlencode({"token": token})  # quotes the token's "=" padding as %3D
    return text(request.build_absolute_uri(f"{reverse('reset')}?{query}"))


@require_GET
def reset(request: HttpRequest) -> HttpResponse:
    try:
        opened = sealed_session.keyring().open(request.GET.get("token", ""), RESET_PURPOSE)
    except ValueError as failure:
        log.warning("password-reset link refused: %s", failure)
        return text("this link is invalid or has expired", 400)
    claim = json.loads(opened.plaintext)
    return text(f"choose a new password for {claim['user']}")
