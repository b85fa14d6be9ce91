"""The Python blocks of the revocation guide run as written."""

from __future__ import annotations

import re
from pathlib import Path

import pytest

GUIDE = Path(__file__).parents[3] / "docs" / "guide" / "revocation.md"
BLOCKS = re.findall(r"^```python\n(.*?)^```$", GUIDE.read_text(), flags=re.MULTILINE | re.DOTALL)


def test_the_guide_has_its_examples() -> None:
    assert len(BLOCKS) == 2


@pytest.mark.parametrize("block", BLOCKS, ids=[f"block-{index}" for index in range(len(BLOCKS))])
def test_guide_block_runs(
    block: str, tmp_path: Path, monkeypatch: pytest.MonkeyPatch, request: pytest.FixtureRequest
) -> None:
    if "RedisStore" in block:
        pytest.importorskip("redis")
        # The block reads the server's address from REDIS_URL, as an application would.
        monkeypatch.setenv("REDIS_URL", request.getfixturevalue("redis_url"))
    monkeypatch.chdir(tmp_path)
    exec(compile(block, str(GUIDE), "exec"), {})
