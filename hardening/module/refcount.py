"""Reference and memory-block stability of the module on the debug
interpreter (python3.14d): the workload, which makes every call and takes
every error path, runs in rounds; after warm-up the interpreter's total
reference count and its count of allocated memory blocks must not grow.

    python3.14d hardening/module/refcount.py [ROUNDS_PER_SAMPLE] [SAMPLES]
"""

import array
import gc
import sys

import workload

# A reference or block kept by any one call of the workload grows the counts
# by at least one per round. The interpreter's internal caches are emptied
# before each reading: the type attribute cache, for one, keeps the last
# name string looked up in each slot, and the module makes fresh ones for
# some lookups, so without that the counts wander by a few dozen.
WARM_UP = 100
SLACK = 2


def main(rounds, samples):
    if not hasattr(sys, "gettotalrefcount"):
        print("refcount: needs the debug interpreter (python3.14d)")
        return 2
    workload.run(WARM_UP)
    # Readings go into storage made up front, so that recording them makes
    # no objects of its own.
    refs, blocks = array.array("q", bytes(8 * (samples + 1))), array.array("q", bytes(8 * (samples + 1)))
    for i in range(samples + 1):
        if i:
            workload.run(rounds)
        sys._clear_internal_caches()
        gc.collect()
        refs[i], blocks[i] = sys.gettotalrefcount(), sys.getallocatedblocks()
    ref_deltas = [r - refs[0] for r in refs]
    block_deltas = [b - blocks[0] for b in blocks]
    print(f"refcount: {samples} samples of {rounds} workload rounds after {WARM_UP} rounds of warm-up; "
          f"total refcount deltas {ref_deltas}, allocated block deltas {block_deltas}")
    if max(map(abs, ref_deltas + block_deltas)) > SLACK:
        print("refcount: FAILED, the counts move with the workload")
        return 1
    print("refcount: ok, both counts stable")
    return 0


if __name__ == "__main__":
    args = [int(a) for a in sys.argv[1:]]
    sys.exit(main(*(args + [200, 5][len(args):])))
