import os
import re
import urllib.parse

import pytest

django = pytest.importorskip("django")
os.environ.setdefault("DJANGO_SETTINGS_MODULE", "django_app.settings")
django.setup()

from django.contrib.auth.hashers import make_password  # noqa: E402
from django.core import mail  # noqa: E402
from django.core.management import call_command  # noqa: E402
from django.test import Client, override_settings  # noqa: E402

from django_app import views  # noqa: E402
from tessarils_web import Keyring, generate_key_entry  # noqa: E402

COOKIE = "sessionid"


@pytest.fixture(params=["AES256_GCM", "XCHACHA20_POLY1305"], autouse=True)
def keys(request):
    with override_settings(TESSARILS_KEYRING=Keyring.from_entries(generate_key_entry(request.param)),
                           MAILERS={"default": {"BACKEND": "django.core.mail.backends.locmem.EmailBackend"}}):
        mail.outbox = []
        views.ACCOUNTS["ada"] = views.Account("ada@example.com", make_password("old password"))
        yield


def test_sign_in_note_and_sign_out():
    client = Client()
    assert client.post("/login", {"user": "ada"}).status_code == 200
    morsel = client.cookies[COOKIE]
    assert (morsel["secure"], morsel["httponly"], morsel["samesite"]) == (True, True, "Lax")
    assert client.get("/").content == b"hello, ada\n"
    assert client.post("/note", {"note": "hi"}).content == b"the session holds 26 bytes of JSON\n"
    request_expiry = client.session.get_expiry_age()
    assert 0 < request_expiry <= 12 * 3600
    assert client.post("/logout").status_code == 200
    assert client.get("/").status_code == 401


def link_from_mail():
    (message,) = mail.outbox
    assert message.to == ["ada@example.com"]
    link = re.search(r"https?://\S+", message.body)[0]
    parts = urllib.parse.urlsplit(link)
    return f"{parts.path}?{parts.query}", urllib.parse.parse_qs(parts.query)["token"][0]


def test_redteam_reset_link_goes_only_by_email_and_works_once():
    anonymous = Client()
    for user in ("ada", "nobody"):
        reply = anonymous.post("/password-reset", {"user": user})
        assert reply.content.decode().strip() == views.SENT  # the same answer whether the account exists
    path, token = link_from_mail()  # only ada's address got one
    assert token not in reply.content.decode()
    assert "choose a new password for ada" in anonymous.get(path).content.decode()
    assert anonymous.post("/reset", {"token": token, "password": "new"}).content == b"password changed for ada\n"
    assert anonymous.get(path).status_code == 400  # bound to the old password hash: used once
    assert anonymous.post("/reset", {"token": token, "password": "eve's"}).status_code == 400


def test_manage_py_check_reports_missing_keys(monkeypatch, capsys):
    monkeypatch.delenv("APP_KEYS", raising=False)
    with override_settings(TESSARILS_KEYRING=None), pytest.raises(Exception, match="APP_KEYS: is unset"):
        call_command("check")
