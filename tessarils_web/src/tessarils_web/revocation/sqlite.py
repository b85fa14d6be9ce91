"""A revocation store in one SQLite file, shared by every process on one machine."""

from __future__ import annotations

import os
import random
import sqlite3
import threading
import time
import weakref
from collections.abc import Callable, Iterator
from contextlib import contextmanager
from typing import Literal

from .store import DEFAULT_LEEWAY, StoreUnavailable, checked_leeway, entry_key, until_seconds

_SCHEMA = (
    "CREATE TABLE IF NOT EXISTS revocations"
    " (key BLOB PRIMARY KEY NOT NULL, until INTEGER NOT NULL) WITHOUT ROWID",
    "CREATE INDEX IF NOT EXISTS revocations_by_until ON revocations (until)",
)

_IS_REVOKED = "SELECT 1 FROM revocations WHERE key = ?1 AND until > ?2"

# Never shortens an entry: a later revocation of the same id can only extend it.
_REVOKE = (
    "INSERT INTO revocations (key, until) VALUES (?1, ?2)"
    " ON CONFLICT (key) DO UPDATE SET until = max(revocations.until, excluded.until)"
)

# One statement, so one write transaction: of all racing callers exactly one
# inserts the row, or reclaims it once it has lapsed, and gets a row back.
_CONSUME_ONCE = (
    "INSERT INTO revocations (key, until) VALUES (?1, ?2)"
    " ON CONFLICT (key) DO UPDATE SET until = excluded.until WHERE revocations.until <= ?3"
    " RETURNING 1"
)

_PURGE = (
    "DELETE FROM revocations WHERE key IN"
    " (SELECT key FROM revocations WHERE until <= ?1 ORDER BY until LIMIT ?2)"
)

# How long SQLite's own busy handler waits before handing a busy file back.
# Its sleeps grow to 100 ms, so that under contention a waiter that has slept
# long loses the lock again and again to writers that just arrived; waiting
# in short, jittered turns of our own keeps the writers' turns fair.
_BUSY_TURN = 0.02

# Connections that a forked child inherited. The child must never close one:
# POSIX file locks belong to the process, not the descriptor, so closing it
# would release the locks of the child's own connections to the same file,
# and the connection's idea of which locks it holds is the parent's. They are
# kept referenced until the process ends.
_INHERITED: list[sqlite3.Connection] = []


def _release(connection: sqlite3.Connection, pid: int) -> None:
    if os.getpid() == pid:
        connection.close()
    else:
        _INHERITED.append(connection)


class _Slot:
    """One thread's connection; closing it is left to the thread's end."""

    __slots__ = ("__weakref__", "connection", "pid", "writes")

    def __init__(self, connection: sqlite3.Connection) -> None:
        self.connection = connection
        self.pid = os.getpid()
        self.writes = 0
        weakref.finalize(self, _release, connection, self.pid)


class SQLiteStore:
    """Revocations in a SQLite file that every worker process on the machine opens.

    The file is in write-ahead-log mode, so readers never wait for the writer;
    writers wait for each other up to ``busy_timeout`` seconds, then the call
    raises :class:`StoreUnavailable`. Each thread of each process gets its own
    connection, opened on first use, so a store built before the server forks
    its workers is safe to use in all of them.

    ``synchronous="FULL"`` (the default) makes every revocation durable once
    the call returns, even across a power loss; ``"NORMAL"`` keeps it across a
    crash of the process but may lose the last writes to a power loss, in
    exchange for cheaper writes. Expired rows are deleted a bounded number at a
    time, every few writes.

    The file must be on a local file system: SQLite's write-ahead log needs
    memory shared between the processes, which network file systems cannot give.
    """

    PURGE_BATCH = 256
    PURGE_EVERY = 32

    def __init__(
        self,
        path: str | os.PathLike[str],
        *,
        busy_timeout: float = 5.0,
        synchronous: Literal["FULL", "NORMAL"] = "FULL",
        leeway: int = DEFAULT_LEEWAY,
        clock: Callable[[], float] = time.time,
    ) -> None:
        self._path = os.fspath(path)
        if self._path in ("", ":memory:") or self._path.startswith("file:"):
            raise ValueError("SQLiteStore needs the path of a file that every process opens; use MemoryStore in memory")
        if synchronous not in ("FULL", "NORMAL"):
            raise ValueError('synchronous must be "FULL" or "NORMAL"')
        if busy_timeout <= 0:
            raise ValueError("busy_timeout must be a positive number of seconds")
        self._busy_timeout = busy_timeout
        self._synchronous = synchronous
        self._leeway = checked_leeway(leeway)
        self._clock = clock
        self._local = threading.local()
        self._create()

    @property
    def path(self) -> str:
        return self._path

    def _connect(self) -> sqlite3.Connection:
        # Each connection serves one thread; it may be closed from another when
        # its thread has ended or the interpreter exits.
        connection = sqlite3.connect(
            self._path, timeout=min(self._busy_timeout, _BUSY_TURN), autocommit=True, check_same_thread=False
        )
        try:
            # Reading the schema waits while another process turns a new file to WAL.
            self._retrying(lambda: connection.execute(f"PRAGMA synchronous = {self._synchronous}"))
        except BaseException:
            connection.close()
            raise
        return connection

    def _create(self) -> None:
        """Puts the file in WAL mode and creates the table; the connection is
        closed again, so that nothing open is carried across a fork."""
        with self._answering():
            connection = self._connect()
            try:
                # Switching to WAL needs the file to itself for a moment:
                # processes that open a new file together take turns.
                mode = self._retrying(lambda: connection.execute("PRAGMA journal_mode = WAL").fetchone()[0])
                for statement in _SCHEMA:
                    self._retrying(lambda: connection.execute(statement))
            finally:
                connection.close()
        if mode != "wal":
            raise StoreUnavailable(f"the revocation database {self._path} cannot use a write-ahead log (mode {mode})")

    def _slot(self) -> _Slot:
        slot: _Slot | None = getattr(self._local, "slot", None)
        if slot is None or slot.pid != os.getpid():
            slot = _Slot(self._connect())
            self._local.slot = slot
        return slot

    def _retrying[T](self, run: Callable[[], T]) -> T:
        """``run()``, again while the file is busy, for up to ``busy_timeout`` seconds."""
        deadline = time.monotonic() + self._busy_timeout
        while True:
            try:
                return run()
            except sqlite3.OperationalError as error:
                if error.sqlite_errorcode & 0xFF != sqlite3.SQLITE_BUSY or time.monotonic() >= deadline:
                    raise
            time.sleep(random.uniform(0, 0.002))

    def _execute(self, statement: str, parameters: tuple[object, ...]) -> list[tuple[object, ...]]:
        connection = self._slot().connection
        return self._retrying(lambda: connection.execute(statement, parameters).fetchall())

    @contextmanager
    def _answering(self) -> Iterator[None]:
        try:
            yield
        except sqlite3.ProgrammingError:
            raise
        except sqlite3.DatabaseError as error:
            raise StoreUnavailable(f"the revocation database {self._path} did not answer: {error}") from error

    def _wrote(self, now: float) -> None:
        slot = self._slot()
        slot.writes += 1
        if slot.writes % self.PURGE_EVERY == 0:
            # Housekeeping: the write it follows has committed, so a purge that
            # finds the file busy is left to the next one, not reported.
            try:
                slot.connection.execute(_PURGE, (now, self.PURGE_BATCH))
            except sqlite3.OperationalError:
                pass

    def revoke(self, identifier: str | bytes, until: int | float) -> None:
        key, until = bytes.fromhex(entry_key(identifier)), until_seconds(until) + self._leeway
        with self._answering():
            self._execute(_REVOKE, (key, until))
            self._wrote(self._clock())

    def is_revoked(self, identifier: str | bytes) -> bool:
        key = bytes.fromhex(entry_key(identifier))
        with self._answering():
            return self._execute(_IS_REVOKED, (key, self._clock())) != []

    def consume_once(self, identifier: str | bytes, until: int | float) -> bool:
        key, until = bytes.fromhex(entry_key(identifier)), until_seconds(until) + self._leeway
        with self._answering():
            now = self._clock()
            won = self._execute(_CONSUME_ONCE, (key, until, now)) != []
            self._wrote(now)
            return won

    def purge_expired(self, limit: int = PURGE_BATCH) -> int:
        """Deletes up to ``limit`` lapsed rows; returns how many it deleted."""
        with self._answering():
            connection = self._slot().connection
            return self._retrying(lambda: connection.execute(_PURGE, (self._clock(), limit)).rowcount)

    def close(self) -> None:
        """Closes the calling thread's connection (the next call opens another)."""
        slot: _Slot | None = getattr(self._local, "slot", None)
        self._local.slot = None
        if slot is not None and slot.pid == os.getpid():
            slot.connection.close()
