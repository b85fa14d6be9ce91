"""Refusing cross-site requests that change state, from the headers browsers send.

A browser marks every request with ``Sec-Fetch-Site``, and a cross-origin
``POST`` with ``Origin``. A state-changing request is refused when either
says it came from another site; a request with neither comes from something
other than a current browser, which cannot be made to carry the user's
cookies by another site.
"""

from __future__ import annotations

SAFE_METHODS = frozenset({"GET", "HEAD", "OPTIONS", "TRACE"})


def is_cross_site(method: str, sec_fetch_site: str | None, origin: str | None, own_origin: str) -> bool:
    """Whether a request that changes state came from another origin than ``own_origin`` (``scheme://host[:port]``).

    ``sec_fetch_site`` and ``origin`` are the request's headers of those names, None when absent.
    """
    if method.upper() in SAFE_METHODS:
        return False
    if sec_fetch_site is not None:
        return sec_fetch_site not in ("same-origin", "none")
    return origin is not None and origin.rstrip("/") != own_origin.rstrip("/")
