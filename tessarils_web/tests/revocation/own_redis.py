"""A redis-server of a test's own, on loopback, that the test may kill and restart."""

from __future__ import annotations

import signal
import socket
import subprocess
import time
from pathlib import Path

import redis

# The persistence that makes every acknowledged write survive a crash.
DURABLE = ("--appendonly", "yes", "--appendfsync", "always", "--save", "")


def free_port() -> int:
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        port: int = probe.getsockname()[1]
        return port


class RedisServer:
    """One redis-server process over a data directory that outlives it."""

    def __init__(self, directory: Path) -> None:
        self.directory = directory
        self.port = free_port()
        self.process: subprocess.Popen[bytes] | None = None

    @property
    def url(self) -> str:
        return f"redis://127.0.0.1:{self.port}/0"

    def start(self, timeout: float = 20.0) -> None:
        """Starts the server and returns once it answers (its data loaded)."""
        assert self.process is None, "the server is already running"
        self.directory.mkdir(parents=True, exist_ok=True)
        self.process = subprocess.Popen(
            ["redis-server", "--bind", "127.0.0.1", "--port", str(self.port), "--dir", str(self.directory),
             "--logfile", "redis.log", *DURABLE],
            stdin=subprocess.DEVNULL,
        )
        client = redis.Redis.from_url(self.url, socket_timeout=1, socket_connect_timeout=1)
        deadline = time.monotonic() + timeout
        try:
            while True:
                try:
                    client.ping()
                    return
                except redis.ConnectionError:  # not listening yet, or still loading its data
                    if self.process.poll() is not None or time.monotonic() > deadline:
                        log = (self.directory / "redis.log").read_text(errors="replace")[-2000:]
                        self.stop()
                        raise RuntimeError(f"redis-server did not come up on {self.url}:\n{log}") from None
                    time.sleep(0.05)
        finally:
            client.close()

    def kill(self) -> None:
        """SIGKILL: no shutdown, no final write."""
        self._end(signal.SIGKILL)

    def stop(self) -> None:
        self._end(signal.SIGTERM)

    def _end(self, how: signal.Signals) -> None:
        if self.process is not None:
            self.process.send_signal(how)
            self.process.wait(timeout=20)
            self.process = None
