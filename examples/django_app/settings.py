"""Settings of the example project: the sealed session engine and the cookie it is carried in."""

import os
import secrets

from sealed_keyring import KEYS_ENV

# The whole session, sealed under the purpose "session", in the session cookie.
SESSION_ENGINE = "django_app.sealed_session"
SEALED_SESSION_KEYS = os.environ.get(KEYS_ENV, "")  # "XCHACHA20_POLY1305:<key> AES256_GCM:<older key>"
SESSION_COOKIE_AGE = 12 * 3600  # fixed from sign-in: using a session does not extend it
SESSION_COOKIE_SECURE = True
SESSION_COOKIE_HTTPONLY = True
SESSION_COOKIE_SAMESITE = "Lax"

# Django requires a secret key; nothing of this project is signed with it.
SECRET_KEY = secrets.token_urlsafe(32)
DEBUG = False
ALLOWED_HOSTS = ["127.0.0.1", "localhost", "testserver"]
ROOT_URLCONF = "django_app.urls"
INSTALLED_APPS: list[str] = []
DATABASES: dict[str, dict[str, str]] = {}
MIDDLEWARE = [
    "django.middleware.security.SecurityMiddleware",
    "django.contrib.sessions.middleware.SessionMiddleware",
    "django.middleware.common.CommonMiddleware",
    "django.middleware.csrf.CsrfViewMiddleware",
]
USE_TZ = True
