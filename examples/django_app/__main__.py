"""Serves the project on 127.0.0.1:8000 with a random key for this run unless APP_KEYS is set."""

import os
import sys
from wsgiref.simple_server import make_server

from tessarils_web import generate_key_entry

if "APP_KEYS" not in os.environ:
    os.environ["APP_KEYS"] = generate_key_entry()
    print("APP_KEYS not set: using a random key for this run", file=sys.stderr)
os.environ.setdefault("DJANGO_SETTINGS_MODULE", "django_app.settings")

from django.core.wsgi import get_wsgi_application  # noqa: E402  (after the settings are named)

with make_server("127.0.0.1", 8000, get_wsgi_application()) as server:
    print("serving on http://127.0.0.1:8000 (try /login, then /)", file=sys.stderr)
    server.serve_forever()
