"""Reference and memory-block stability of the module on the debug
interpreter (python3.14d): the workload, which makes every call and takes
every error path, runs in rounds; after warm-up the interpreter's total
reference count and its count of allocated memory blocks must not grow.

    python3.14d hardening/module/refcount.py [ROUNDS_PER_SAMPLE] [SAMPLES]
"""

import gc
import sys

import workload

# A reference or block kept by any one call of the workload grows the
# counts by at least one per round, in every sample. The interpreter's own
# caches (type and specialisation caches, free lists, interned names) fill
# over the first few hundred rounds; afterwards they still move now and
# then, because the module looks attributes up by C-string names and the
# type attribute cache keeps a bounded number of those strings. So the
# verdict is the median growth per sample, which a leak cannot keep low.
WARM_UP = 600
GROWTH_PER_ROUND = 0.1


def snapshot():
    gc.collect()
    return sys.gettotalrefcount(), sys.getallocatedblocks()


def main(rounds, samples):
    if not hasattr(sys, "gettotalrefcount"):
        print("refcount: needs the debug interpreter (python3.14d)")
        return 2
    workload.run(WARM_UP)
    history = [snapshot()]
    for _ in range(samples):
        workload.run(rounds)
        history.append(snapshot())
    refs = [r - history[0][0] for r, _ in history]
    blocks = [b - history[0][1] for _, b in history]
    print(f"refcount: {samples} samples of {rounds} workload rounds; total refcount deltas {refs}, "
          f"allocated block deltas {blocks}")
    limit = GROWTH_PER_ROUND * rounds
    median = {}
    for name, series in (("refcount", refs), ("blocks", blocks)):
        steps = sorted(b - a for a, b in zip(series, series[1:]))
        median[name] = steps[len(steps) // 2]
    if max(map(abs, median.values())) > limit:
        print(f"refcount: FAILED, median growth per sample {median} exceeds {limit:.0f}")
        return 1
    print(f"refcount: ok, median growth per {rounds}-round sample {median} (limit {limit:.0f})")
    return 0

if __name__ == "__main__":
    args = [int(a) for a in sys.argv[1:]]
    sys.exit(main(*(args + [200, 7][len(args):])))
