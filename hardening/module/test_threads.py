"""Many threads on shared objects, and the build-once cells of the module
under concurrent first import and re-execution."""

import os
import random
import threading
import time

from tessarils import Tessaril
from tessarils_testing import BACKENDS, MISMATCH, run_python, run_threads

THREADS = 16
SECONDS = float(os.environ.get("TESSARILS_STRESS_SECONDS", "8"))
KEYS = [1, 2**128 - 1, 0x0123456789ABCDEF_FEDCBA9876543210]


def test_sixteen_threads_construct_seal_and_open_on_shared_objects():
    shared = {(int(b), k): Tessaril(b, key=k) for b in BACKENDS for k in KEYS}
    # Tokens travel between threads: each thread opens what others sealed.
    mailbox = []
    mailbox_lock = threading.Lock()
    barrier = threading.Barrier(THREADS)
    deadline = time.monotonic() + SECONDS
    failures, operations = [], [0] * THREADS

    def work(index):
        rng = random.Random(index)
        try:
            barrier.wait()
            while time.monotonic() < deadline:
                backend, key = rng.choice(BACKENDS), rng.choice(KEYS)
                box = shared[(int(backend), key)]
                fresh = Tessaril(backend, key=key)  # construction races with use of the shared ones
                payload = "".join(rng.choice("abc\u00e9\u2014\U0001f510") for _ in range(rng.randrange(64))).encode()
                purpose = rng.choice([None, "admin", "p" * 255])
                token = box.encrypt(payload, expires_at=rng.choice([None, 2**40]), purpose=purpose)
                opened = fresh.decrypt(token) if purpose is None else fresh.decrypt_for(token, purpose)
                assert opened == payload, "a token opened to another plaintext"
                try:
                    box.decrypt_for(token, "other")
                    raise AssertionError("opened for the wrong purpose")
                except ValueError as error:
                    assert str(error) == MISMATCH
                with mailbox_lock:
                    mailbox.append((int(backend), key, purpose, payload, token))
                    theirs = mailbox[rng.randrange(len(mailbox))]
                    if len(mailbox) > 256:
                        del mailbox[:128]
                b, k, p, expected, foreign = theirs
                other = shared[(b, k)]
                got = other.decrypt(foreign) if p is None else other.decrypt_for(foreign, p)
                assert got == expected, "a token from another thread opened to another plaintext"
                operations[index] += 1
        except BaseException as error:  # noqa: BLE001 - every failure is reported below
            failures.append(f"thread {index}: {error!r}")
            barrier.abort()

    assert run_threads(THREADS, work, timeout=SECONDS + 60) == 0, "a thread hung"
    assert failures == []
    assert min(operations) > 0, f"a thread made no progress: {operations}"
    print(f"{sum(operations)} verified round trips by {THREADS} threads in {SECONDS:.0f} s")


def test_concurrent_first_import_and_re_execution():
    """Each run is a new process, so the build-once cells start empty. The
    threads are released together, half of them importing the module and
    half making and executing module objects of their own from what
    find_spec found (which does not wait for the import lock), with a tiny
    switch interval, so that first uses of the cells overlap as far as the
    interpreter lets them."""
    code = """
        import importlib, importlib.util, json, sys, threading
        sys.setswitchinterval(1e-6)
        THREADS = 12
        found = importlib.util.find_spec("tessarils")
        barrier = threading.Barrier(THREADS)
        seen = [None] * THREADS
        def work(i):
            barrier.wait()
            if i % 2:
                module = importlib.import_module("tessarils")
            else:
                module = importlib.util.module_from_spec(found)
                found.loader.exec_module(module)
            again = importlib.util.module_from_spec(found)
            found.loader.exec_module(again)
            a, x = module.Backend.AES256_GCM, module.Backend.XCHACHA20_POLY1305
            box = again.Tessaril(x if i % 4 < 2 else a, key=i)
            assert box.decrypt(box.encrypt(b"t")) == b"t"
            seen[i] = [id(module.Tessaril), id(module.Backend), id(again.Tessaril), id(again.Backend),
                       id(a), id(x), id(again.Backend.AES256_GCM), module.__all__ == again.__all__ == ["Tessaril", "Backend"]]
        pool = [threading.Thread(target=work, args=(i,)) for i in range(THREADS)]
        for t in pool: t.start()
        for t in pool: t.join()
        imported = sys.modules["tessarils"]
        print(json.dumps(seen + [[id(imported.Tessaril), id(imported.Backend)]]))
    """
    for _ in range(int(os.environ.get("TESSARILS_IMPORT_RUNS", "25"))):
        *seen, imported = run_python(code)
        assert None not in seen, "a thread failed"
        assert all(s == seen[0] for s in seen), "threads saw different type or member objects"
        tessaril, backend, again_tessaril, again_backend, aes, _, again_aes, all_ok = seen[0]
        assert (tessaril, backend) == (again_tessaril, again_backend) == tuple(imported), "types were built twice"
        assert aes == again_aes and all_ok
