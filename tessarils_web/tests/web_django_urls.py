"""The Django side of web_apps: the same routes, and set_expiry through its sync and async APIs."""

from __future__ import annotations

from django.http import HttpRequest, HttpResponse
from django.urls import path


def login(request: HttpRequest) -> HttpResponse:
    request.session.flush()
    request.session["user"] = request.POST["user"]
    return HttpResponse("signed in")


def logout(request: HttpRequest) -> HttpResponse:
    request.session.flush()
    return HttpResponse("signed out")


def home(request: HttpRequest) -> HttpResponse:
    if "user" not in request.session:
        return HttpResponse("not signed in", status=401)
    return HttpResponse(f"hello, {request.session['user']}")


def note(request: HttpRequest) -> HttpResponse:
    request.session["note"] = request.POST["note"]
    return HttpResponse("noted")


def expiry(request: HttpRequest) -> HttpResponse:
    request.session.set_expiry(int(request.POST["seconds"]))
    return HttpResponse("expiry set")


async def aexpiry(request: HttpRequest) -> HttpResponse:
    await request.session.aset_expiry(int(request.POST["seconds"]))
    return HttpResponse("expiry set")


urlpatterns = [path("login", login), path("logout", logout), path("", home), path("note", note),
               path("expiry", expiry), path("aexpiry", aexpiry)]
