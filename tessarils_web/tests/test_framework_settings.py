"""Each framework's own session and cookie settings, honoured by its integration."""

from __future__ import annotations

from typing import Any

import pytest
from web_apps import Options, driver
from web_helpers import START, Clock, old_ring

MAX_AGE = 3600


def attributes(set_cookie: str | None) -> dict[str, str]:
    assert set_cookie is not None
    pairs = [part.strip().partition("=") for part in set_cookie.split(";")[1:]]
    return {name.lower(): value for name, _, value in pairs}


@pytest.mark.parametrize(("framework", "settings", "expected"), [
    ("flask", {"SESSION_COOKIE_DOMAIN": "example.com", "SESSION_COOKIE_PATH": "/app",
               "SESSION_COOKIE_SAMESITE": "Strict", "SESSION_COOKIE_SECURE": False, "SESSION_COOKIE_HTTPONLY": False},
     {"domain": "example.com", "path": "/app", "samesite": "Strict"}),
    ("starlette", {"domain": "example.com", "path": "/app", "same_site": "strict", "https_only": False},
     {"domain": "example.com", "path": "/app", "samesite": "strict", "httponly": ""}),
    ("django", {"SESSION_COOKIE_DOMAIN": "example.com", "SESSION_COOKIE_PATH": "/app",
                "SESSION_COOKIE_SAMESITE": "Strict", "SESSION_COOKIE_SECURE": False, "SESSION_COOKIE_HTTPONLY": False},
     {"domain": "example.com", "path": "/app", "samesite": "Strict"}),
])
def test_cookie_settings_are_honoured(clock: Clock, framework: str, settings: dict[str, Any],
                                      expected: dict[str, str]) -> None:
    reply = driver(framework, old_ring(clock), Options(max_age=MAX_AGE, settings=settings))(
        "POST", "/login", form={"user": "ada"})
    found = attributes(reply.set_cookie)
    assert {name: found.get(name) for name in expected} == expected
    assert "secure" not in found
    assert found["max-age"] == str(MAX_AGE)


def test_flask_non_permanent_session_gets_a_browser_session_cookie_whose_token_still_expires(clock: Clock) -> None:
    ring = old_ring(clock)
    reply = driver("flask", ring, Options(max_age=MAX_AGE))("POST", "/login", form={"user": "ada", "browser": "1"})
    found = attributes(reply.set_cookie)
    assert "max-age" not in found and "expires" not in found
    assert reply.token and ring.open(reply.token).expires_at == START + MAX_AGE


@pytest.mark.parametrize(("seconds", "max_age"), [(300, 300), (10 * MAX_AGE, MAX_AGE - 100), (-5, 1), (0, None)])
def test_django_set_expiry_works_within_the_maximum_age(clock: Clock, seconds: int, max_age: int | None) -> None:
    ring = old_ring(clock)
    call = driver("django", ring, Options(max_age=MAX_AGE))
    token = call("POST", "/login", form={"user": "ada"}).token
    clock.now += 100
    reply = call("POST", "/expiry", token, form={"seconds": str(seconds)})
    assert reply.max_age == max_age and reply.token
    # Never past sign-in plus the maximum age; a browser-session cookie keeps the token's end.
    assert ring.open(reply.token).expires_at == (START + 100 + max_age if max_age else START + MAX_AGE)


def test_django_expire_at_browser_close(clock: Clock) -> None:
    ring = old_ring(clock)
    reply = driver("django", ring, Options(max_age=MAX_AGE, settings={"SESSION_EXPIRE_AT_BROWSER_CLOSE": True}))(
        "POST", "/login", form={"user": "ada"})
    assert reply.max_age is None and "expires" not in attributes(reply.set_cookie)
    assert reply.token and ring.open(reply.token).expires_at == START + MAX_AGE


def test_django_missing_keys_are_improperly_configured(clock: Clock, monkeypatch: pytest.MonkeyPatch) -> None:
    from django.core.exceptions import ImproperlyConfigured
    from django.test.utils import override_settings

    import tessarils_web.django as engine

    driver("django", old_ring(clock))  # configures Django
    monkeypatch.delenv("APP_KEYS", raising=False)
    with override_settings(TESSARILS_KEYRING=None), pytest.raises(ImproperlyConfigured) as raised:
        engine.codec()
    assert "environment variable APP_KEYS: is unset" in str(raised.value)
