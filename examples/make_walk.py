#!/usr/bin/env python3
"""Writes walk.csv: 5,000 rows of a random walk around 100, one column,
no header, so the data fill A1:A5000 as the README's example reads them.

A fixed-seed linear congruential generator keeps the file identical on every
Python version. Each value is pulled a little towards 100 and printed with
2 to 4 decimals.
"""
import sys

SEED = 20240611
ROWS = 5000


def lcg(state):
    # Numerical Recipes constants, 32-bit.
    while True:
        state = (1664525 * state + 1013904223) % 2**32
        yield state / 2**32


def main(path):
    rand = lcg(SEED)
    x = 100.0
    lines = []
    for _ in range(ROWS):
        step = (next(rand) - 0.5) * 1.2
        x += 0.02 * (100.0 - x) + step
        decimals = 2 + int(next(rand) * 3)
        lines.append(f"{x:.{decimals}f}")
    with open(path, "w", newline="\n") as out:
        out.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "walk.csv")
