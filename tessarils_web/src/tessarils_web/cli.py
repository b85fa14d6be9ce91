"""``python -m tessarils_web generate-key [--backend NAME]``: prints an entry ready for the keys variable."""

from __future__ import annotations

import argparse
from collections.abc import Sequence

from .keys import BACKENDS, DEFAULT_BACKEND, generate_key_entry


def main(argv: Sequence[str] | None = None) -> int:
    parser = argparse.ArgumentParser(prog="python -m tessarils_web", description="Key tools for tessarils-web.")
    commands = parser.add_subparsers(dest="command", required=True)
    generate = commands.add_parser("generate-key", help="print a new BACKEND:DECIMAL_KEY entry")
    generate.add_argument("--backend", choices=list(BACKENDS), default=DEFAULT_BACKEND,
                          help=f"the AEAD the key seals with (default {DEFAULT_BACKEND})")
    arguments = parser.parse_args(argv)
    if arguments.command == "generate-key":
        print(generate_key_entry(arguments.backend))
    return 0
