#!/usr/bin/env python3
"""Writes each hex line of SEEDS (text after '#' is a comment) as one file in OUT_DIR."""
import os
import sys

seeds, out = sys.argv[1], sys.argv[2]
os.makedirs(out, exist_ok=True)
for number, line in enumerate(open(seeds)):
    hex_text = line.split("#", 1)[0].strip()
    if hex_text:
        with open(os.path.join(out, f"seed-{number:03d}"), "wb") as f:
            f.write(bytes.fromhex(hex_text))
