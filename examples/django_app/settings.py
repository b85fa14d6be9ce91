"""Settings of the example project: the sealed session engine and the cookie it is carried in."""

import secrets

# The whole session, sealed under the purpose "session", in the session cookie.
SESSION_ENGINE = "tessarils_web.django"
TESSARILS_KEYS_ENV = "APP_KEYS"  # "XCHACHA20_POLY1305:<key> AES256_GCM:<older key>", read at the first request
SESSION_COOKIE_AGE = 12 * 3600  # fixed from sign-in: using a session does not extend it
SESSION_COOKIE_SECURE = True
SESSION_COOKIE_HTTPONLY = True
SESSION_COOKIE_SAMESITE = "Lax"
# Reset links go by e-mail, never in a response; the console stands in for a mail server.
MAILERS = {"default": {"BACKEND": "django.core.mail.backends.console.EmailBackend"}}
DEFAULT_FROM_EMAIL = "accounts@example.com"

# Django requires a secret key; nothing of this project is signed with it.
SECRET_KEY = secrets.token_urlsafe(32)
DEBUG = False
ALLOWED_HOSTS = ["127.0.0.1", "localhost", "testserver"]
ROOT_URLCONF = "django_app.urls"
INSTALLED_APPS = ["tessarils_web.django"]  # `manage.py check` then checks the keys
DATABASES: dict[str, dict[str, str]] = {}
MIDDLEWARE = [
    "django.middleware.security.SecurityMiddleware",
    "django.contrib.sessions.middleware.SessionMiddleware",
    "django.middleware.common.CommonMiddleware",
    "django.middleware.csrf.CsrfViewMiddleware",
]
USE_TZ = True
