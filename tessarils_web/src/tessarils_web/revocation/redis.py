"""A revocation store in Redis, shared by every machine that reaches the server."""

from __future__ import annotations

from collections.abc import Iterator
from contextlib import contextmanager

try:
    import redis
    from redis.backoff import NoBackoff
    from redis.retry import Retry
except ImportError as error:  # pragma: no cover - depends on the installation
    raise ImportError("RedisStore needs the redis package: install this package's 'redis' extra") from error

from .store import DEFAULT_LEEWAY, StoreUnavailable, checked_leeway, entry_key, until_seconds

DEFAULT_PREFIX = "tessarils:revoked:"

# Errors that mean the server cannot take the command now: unreachable, too
# slow, a replica, out of memory with no eviction, its cluster or master down.
_UNAVAILABLE: tuple[type[Exception], ...] = (
    redis.ConnectionError,
    redis.TimeoutError,
    redis.exceptions.ReadOnlyError,
    redis.exceptions.OutOfMemoryError,
    redis.exceptions.TryAgainError,
    redis.exceptions.ClusterDownError,
    redis.exceptions.MasterDownError,
)
# Replies the client has no class for: it cannot persist, too few replicas.
_UNAVAILABLE_REPLIES = ("MISCONF", "NOREPLICAS")


class RedisStore:
    """Revocations as Redis keys that expire on their own at ``until`` plus the leeway.

    Give either ``url`` (``redis://host:port/db``, ``rediss://`` for TLS, or
    ``unix:///path``), from which the store builds a blocking connection pool
    of ``max_connections`` with ``timeout`` seconds for connecting, for each
    reply and for waiting on a free connection, and one immediate retry on a
    dropped connection; or ``client``, a ``redis.Redis`` of your own whose
    timeouts and retries you have set.

    Expiry is the Redis server's, by its clock: ``leeway`` must exceed the
    worst skew between it and the application's clocks. The server needs
    Redis 7.0 or later. Keys are ``prefix`` followed by the entry's digest.
    """

    def __init__(
        self,
        url: str | None = None,
        *,
        client: redis.Redis | None = None,
        prefix: str = DEFAULT_PREFIX,
        timeout: float = 0.5,
        max_connections: int = 64,
        leeway: int = DEFAULT_LEEWAY,
    ) -> None:
        if not prefix:
            raise ValueError("the key prefix must not be empty, so that the store's keys stand apart")
        if client is None:
            if url is None:
                raise ValueError("RedisStore takes a url or a client")
            client = redis.Redis(connection_pool=self._pool(url, timeout, max_connections))
        elif url is not None:
            raise ValueError("RedisStore takes a url or a client, not both")
        self._client = client
        self._prefix = prefix
        self._leeway = checked_leeway(leeway)

    @staticmethod
    def _pool(url: str, timeout: float, max_connections: int) -> redis.BlockingConnectionPool:
        return redis.BlockingConnectionPool.from_url(
            url,
            max_connections=max_connections,
            timeout=timeout,
            socket_timeout=timeout,
            socket_connect_timeout=timeout,
            # A pooled connection that the server dropped (a restart, an idle
            # timeout) is retried once on a fresh one; a timeout is not
            # retried, so a call never takes more than about twice `timeout`.
            retry=Retry(NoBackoff(), 1, supported_errors=(redis.ConnectionError,)),
        )

    @property
    def client(self) -> redis.Redis:
        return self._client

    def _key(self, identifier: str | bytes) -> str:
        return self._prefix + entry_key(identifier)

    def _expiry(self, until: int | float) -> int:
        # EXAT refuses zero and negative times; any past time drops the key at once.
        return max(until_seconds(until) + self._leeway, 1)

    @contextmanager
    def _answering(self) -> Iterator[None]:
        try:
            yield
        except _UNAVAILABLE as error:
            raise StoreUnavailable(f"the revocation store in Redis did not answer: {error}") from error
        except redis.ResponseError as error:
            if str(error).startswith(_UNAVAILABLE_REPLIES):
                raise StoreUnavailable(f"the revocation store in Redis refused the command: {error}") from error
            raise

    def revoke(self, identifier: str | bytes, until: int | float) -> None:
        key, expiry = self._key(identifier), self._expiry(until)
        with self._answering():
            # Both in one MULTI/EXEC: the key is created with this expiry, or an
            # existing one keeps the later of its own and this one. Apart, the
            # key could lapse between the two and the revocation be lost.
            with self._client.pipeline(transaction=True) as pipe:
                pipe.set(key, 1, nx=True, exat=expiry)
                pipe.expireat(key, expiry, gt=True)
                pipe.execute()

    def is_revoked(self, identifier: str | bytes) -> bool:
        key = self._key(identifier)
        with self._answering():
            return bool(self._client.exists(key))

    def consume_once(self, identifier: str | bytes, until: int | float) -> bool:
        key, expiry = self._key(identifier), self._expiry(until)
        with self._answering():
            return bool(self._client.set(key, 1, nx=True, exat=expiry))

    def close(self) -> None:
        """Closes the pool's connections."""
        self._client.close()
