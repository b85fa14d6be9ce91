"""Listing ``tessarils_web.django`` in INSTALLED_APPS makes ``manage.py check`` check the session keys."""

from __future__ import annotations

from typing import Any

from django.apps import AppConfig
from django.conf import settings
from django.core import checks
from django.core.exceptions import ImproperlyConfigured


def check_session_keys(app_configs: Any = None, **kwargs: Any) -> list[checks.CheckMessage]:
    if settings.SESSION_ENGINE != "tessarils_web.django":
        return []
    from . import codec

    try:
        codec()
    except ImproperlyConfigured as error:
        return [checks.Error(str(error), id="tessarils_web.E001")]
    return []


class TessarilsWebConfig(AppConfig):
    name = "tessarils_web.django"
    label = "tessarils_web"
    verbose_name = "tessarils-web sessions"

    def ready(self) -> None:
        checks.register(check_session_keys)
