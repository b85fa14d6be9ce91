"""How large a session the web examples keep in a cookie, and how they refuse a larger one."""

# A token holds at most this many bytes of plaintext.
MAX_PLAINTEXT_BYTES = 16384
# The longest Set-Cookie value (name, token and attributes) browsers are
# trusted to keep: Werkzeug's default, which the other examples share so that
# every framework refuses at the same point.
MAX_COOKIE_BYTES = 4093


class SessionTooLarge(RuntimeError):
    """The session does not fit a cookie that browsers keep; they would drop it without a word."""

    def __init__(self, session_json_bytes: int, max_cookie_bytes: int) -> None:
        # The count is the session's own JSON, as the documented budget counts it.
        super().__init__(
            f"session not stored: it holds {session_json_bytes} bytes of JSON, more than a cookie of "
            f"at most {max_cookie_bytes} bytes carries; keep large data on the server"
        )
