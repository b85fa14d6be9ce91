"""Each framework's own session and cookie settings, honoured by its integration."""

from __future__ import annotations

from typing import Any

import pytest
from web_apps import Options, driver
from web_helpers import NEW_KEY, OLD_KEY, START, Clock, assert_no_frame_holds, old_ring

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
    assert reply.token and ring.open(reply.token, purpose="session").expires_at == START + MAX_AGE


@pytest.mark.parametrize("view", ["/expiry", "/aexpiry"])  # set_expiry, and aset_expiry from an async view
@pytest.mark.parametrize(("seconds", "max_age"), [(300, 300), (10 * MAX_AGE, MAX_AGE - 100), (-5, 1), (0, None)])
def test_django_set_expiry_works_within_the_maximum_age(clock: Clock, seconds: int, max_age: int | None,
                                                        view: str) -> None:
    ring = old_ring(clock)
    call = driver("django", ring, Options(max_age=MAX_AGE))
    token = call("POST", "/login", form={"user": "ada"}).token
    clock.now += 100
    reply = call("POST", view, token, form={"seconds": str(seconds)})
    assert reply.max_age == max_age and reply.token
    # Never past sign-in plus the maximum age; a browser-session cookie keeps the token's end.
    expected = START + 100 + max_age if max_age else START + MAX_AGE
    assert ring.open(reply.token, purpose="session").expires_at == expected


@pytest.mark.parametrize(("seconds", "renewed_to"), [(300, 300), (0, MAX_AGE)])
def test_django_sliding_renewal_slides_by_the_idle_time_set_expiry_asked_for(clock: Clock, seconds: int,
                                                                             renewed_to: int) -> None:
    ring = old_ring(clock)
    call = driver("django", ring, Options(max_age=MAX_AGE, absolute_max_age=10 * MAX_AGE))
    token = call("POST", "/login", form={"user": "ada"}).token
    token = call("POST", "/expiry", token, form={"seconds": str(seconds)}).token
    clock.now += 200
    reply = call("GET", "/", token)
    assert reply.status == 200 and reply.token
    assert ring.open(reply.token, purpose="session").expires_at == clock.now + renewed_to


def test_django_expire_at_browser_close(clock: Clock) -> None:
    ring = old_ring(clock)
    reply = driver("django", ring, Options(max_age=MAX_AGE, settings={"SESSION_EXPIRE_AT_BROWSER_CLOSE": True}))(
        "POST", "/login", form={"user": "ada"})
    assert reply.max_age is None and "expires" not in attributes(reply.set_cookie)
    assert reply.token and ring.open(reply.token, purpose="session").expires_at == START + MAX_AGE


@pytest.mark.parametrize(("keyring", "keys", "reason"), [
    (None, None, "environment variable APP_KEYS: is unset"),
    (None, f"XCHACHA20_POLY1305:{NEW_KEY}\n", "environment variable APP_KEYS: has surrounding whitespace"),
    (None, f"XCHACHA20_POLY1305:{2**128 + NEW_KEY}", "environment variable APP_KEYS: entry 1 has a key out of range"),
    # Key entries where a Keyring belongs: refused, not quietly replaced by the variable.
    (f"XCHACHA20_POLY1305:{NEW_KEY}", f"XCHACHA20_POLY1305:{OLD_KEY}", "TESSARILS_KEYRING must be"),
], ids=["unset", "newline", "out-of-range", "entries-as-keyring"])
def test_django_key_errors_are_improperly_configured_and_hold_no_key(
        clock: Clock, monkeypatch: pytest.MonkeyPatch, keyring: str | None, keys: str | None, reason: str) -> None:
    from django.core.exceptions import ImproperlyConfigured
    from django.test.utils import override_settings

    import tessarils_web.django as engine

    driver("django", old_ring(clock))  # configures Django
    if keys is None:
        monkeypatch.delenv("APP_KEYS", raising=False)
    else:
        monkeypatch.setenv("APP_KEYS", keys)
    with override_settings(TESSARILS_KEYRING=keyring), pytest.raises(ImproperlyConfigured) as raised:
        engine.codec()
    assert reason in str(raised.value)
    assert_no_frame_holds(raised.value, str(NEW_KEY))
