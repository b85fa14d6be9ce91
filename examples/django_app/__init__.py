"""A Django project whose session lives in a sealed cookie, with password-reset links.

The session engine is django_app/sealed_session.py; the settings to paste
are in django_app/settings.py. Keys come from APP_KEYS, newest first, as in
the other examples:

    APP_KEYS=... python3 -m django_app     # from examples/: serve on 127.0.0.1:8000
"""
