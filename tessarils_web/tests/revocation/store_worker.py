"""A worker process of the multi-process tests, as a web server's worker would
use a store: it opens its own, says "ready", waits for "go" on stdin, then
runs one task and prints its result as JSON.

    python store_worker.py STORE race COUNT NAMESPACE SEED  consume COUNT one-time ids in a shuffled order
    python store_worker.py STORE check IDS_FILE             is_revoked of each id, read after "go"
    python store_worker.py STORE write NAMESPACE            revoke and consume until killed; each
                                                      acknowledged call printed as it returns

STORE is the JSON of the store's settings: {"kind": "sqlite", "path": ...}
or {"kind": "redis", "url": ..., "prefix": ...}.
"""

from __future__ import annotations

import json
import random
import sys
import time
from typing import Any

from tessarils_web.revocation import RevocationStore, StoreUnavailable

UNTIL = int(time.time()) + 3600


def open_store(settings: dict[str, Any]) -> RevocationStore:
    if settings["kind"] == "sqlite":
        from tessarils_web.revocation import SQLiteStore

        return SQLiteStore(settings["path"], synchronous=settings.get("synchronous", "FULL"))
    from tessarils_web.revocation import RedisStore

    return RedisStore(settings["url"], prefix=settings["prefix"])


def race(store: RevocationStore, count: int, namespace: str, seed: int) -> dict[str, list[Any]]:
    order = list(range(count))
    random.Random(seed).shuffle(order)
    won, errors = [], []
    for index in order:
        try:
            if store.consume_once(f"{namespace}-link-{index}", UNTIL):
                won.append(index)
        except StoreUnavailable as error:
            errors.append(f"{index}: {error}")
    return {"won": won, "errors": errors}


def check(store: RevocationStore, ids_file: str) -> dict[str, list[Any]]:
    with open(ids_file) as ids:
        return {"revoked": [store.is_revoked(line.rstrip("\n")) for line in ids]}


def write(store: RevocationStore, namespace: str) -> None:
    index = 0
    while True:
        store.revoke(f"{namespace}-session-{index}", UNTIL)
        print(f"revoked {index}", flush=True)
        if store.consume_once(f"{namespace}-link-{index}", UNTIL):
            print(f"consumed {index}", flush=True)
        index += 1


def main(arguments: list[str]) -> None:
    settings, task, rest = json.loads(arguments[0]), arguments[1], arguments[2:]
    store = open_store(settings)
    print("ready", flush=True)
    if sys.stdin.readline().strip() != "go":
        raise SystemExit("store_worker: expected go")
    if task == "race":
        print(json.dumps(race(store, int(rest[0]), rest[1], int(rest[2]))))
    elif task == "check":
        print(json.dumps(check(store, rest[0])))
    elif task == "write":
        write(store, rest[0])
    else:
        raise SystemExit(f"store_worker: unknown task {task}")


if __name__ == "__main__":
    main(sys.argv[1:])
