"""A Django project whose session lives in a sealed cookie, with password-reset links sent by e-mail.

The session engine is tessarils_web's; the settings to paste are in
django_app/settings.py. Keys come from APP_KEYS, newest first:

    APP_KEYS=... python3 -m django_app     # from examples/: serve on 127.0.0.1:8000
"""
