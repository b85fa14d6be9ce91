"""Refusing cross-site requests that change state, from the headers browsers send.

A browser marks every request with ``Sec-Fetch-Site``, and a cross-origin
``POST`` with ``Origin``. A state-changing request is refused when either
says it came from another site; a request with neither comes from something
other than a current browser, which cannot be made to carry the user's
cookies by another site.
"""

from __future__ import annotations

from collections.abc import Mapping

SAFE_METHODS = frozenset({"GET", "HEAD", "OPTIONS", "TRACE"})


def is_cross_site(method: str, headers: Mapping[str, str], own_origin: str) -> bool:
    """Whether a request that changes state came from another origin than ``own_origin`` (``scheme://host[:port]``).

    ``headers`` must look names up case-insensitively, as every framework's do.
    """
    if method.upper() in SAFE_METHODS:
        return False
    site = headers.get("sec-fetch-site")
    if site is not None:
        return site not in ("same-origin", "none")
    origin = headers.get("origin")
    return origin is not None and origin.rstrip("/") != own_origin.rstrip("/")
