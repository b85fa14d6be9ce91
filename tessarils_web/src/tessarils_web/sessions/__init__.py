"""The session core the framework integrations share."""

from .core import MAX_COOKIE_BYTES, SessionCodec, SessionState, SessionTooLarge

__all__ = ["MAX_COOKIE_BYTES", "SessionCodec", "SessionState", "SessionTooLarge"]
