"""Randomised round trips and tampering, and concurrent use of one object."""

import threading

import pytest
from hypothesis import given, settings, strategies as st

from tessarils import Tessaril

from tessarils_testing import BACKENDS, INVALID_BASE64, INVALID_TOKEN, MISMATCH, TAMPERED, TOKEN_ALPHABET, run_threads

BOXES = [Tessaril(backend, key=2**127 + 12345) for backend in BACKENDS]
text = st.text(max_size=200)


@settings(max_examples=150, deadline=None)
@given(box=st.sampled_from(BOXES), payload=text, purpose=st.none() | text.filter(lambda p: 0 < len(p.encode()) <= 255))
def test_random_payloads_round_trip(box, payload, purpose):
    data = payload.encode()
    token = box.encrypt(data, purpose=purpose)
    assert box.decrypt_for(token, "session" if purpose is None else purpose) == data


@settings(max_examples=300, deadline=None)
@given(box=st.sampled_from(BOXES), payload=text, draw=st.data())
def test_single_replacement_never_opens(box, payload, draw):
    token = box.encrypt(payload.encode())
    index = draw.draw(st.integers(0, len(token) - 1))
    # A lone surrogate fails the str conversion instead (test_arguments covers it).
    replacement = draw.draw(st.sampled_from(TOKEN_ALPHABET) | st.characters(exclude_categories=["Cs"]), label="replacement")
    if replacement == token[index]:
        return
    with pytest.raises(ValueError) as info:
        box.decrypt(token[:index] + replacement + token[index + 1:])
    assert info.value.args[0] in (INVALID_TOKEN, INVALID_BASE64, TAMPERED)


@pytest.mark.parametrize("box", BOXES, ids=[repr(backend) for backend in BACKENDS])
def test_threads_share_one_object(box):
    threads, rounds = 8, 150
    barrier = threading.Barrier(threads)
    failures = []

    def work(worker):
        barrier.wait()
        try:
            for i in range(rounds):
                data = f"worker {worker} round {i} \u00e9".encode()
                purpose = f"p{worker}"
                token = box.encrypt(data, purpose=purpose)
                if box.decrypt_for(token, purpose) != data:
                    failures.append((worker, i, "plaintext"))
                try:
                    box.decrypt(token)
                    failures.append((worker, i, "purpose ignored"))
                except ValueError as error:
                    if str(error) != MISMATCH:
                        failures.append((worker, i, str(error)))
        except BaseException as error:  # report, do not lose, anything unexpected
            failures.append((worker, "raised", repr(error)))

    assert run_threads(threads, work) == 0
    assert failures == []
