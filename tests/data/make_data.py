#!/usr/bin/env python3
"""Writes the small data sets the cross-platform check runs every core on:
three columns of 3,000 rows each, no header.

  walk.csv      random walks around 100 (2 to 4 decimals)
  sine.csv      sines of different periods plus a little noise
  ties.csv      values on a coarse grid, so many are equal
  constant.csv  long constant stretches with a few steps

A fixed-seed linear congruential generator keeps the files identical on
every Python version: python3 tests/data/make_data.py tests/data
"""
import math
import os
import sys

ROWS = 3000


def lcg(state):
    # Numerical Recipes constants, 32-bit.
    while True:
        state = (1664525 * state + 1013904223) % 2**32
        yield state / 2**32


def walk(rand):
    cols = []
    for c in range(3):
        x = 100.0 * (c + 1)
        col = []
        for _ in range(ROWS):
            x += 0.02 * (100.0 * (c + 1) - x) + (next(rand) - 0.5) * (1.0 + c)
            col.append(f"{x:.{2 + int(next(rand) * 3)}f}")
        cols.append(col)
    return cols


def sine(rand):
    cols = []
    for c, period in enumerate((37.0, 250.0, 1200.0)):
        col = []
        for i in range(ROWS):
            v = 50.0 + (10.0 + 5 * c) * math.sin(2 * math.pi * i / period)
            col.append(f"{v + (next(rand) - 0.5) * 0.4:.4f}")
        cols.append(col)
    return cols


def ties(rand):
    cols = []
    for c in range(3):
        x = 20.0
        col = []
        for _ in range(ROWS):
            x += (int(next(rand) * 5) - 2) * 0.5 * (c + 1)
            x = min(max(x, 5.0), 40.0)
            col.append(f"{x:g}")
        cols.append(col)
    return cols


def constant(rand):
    cols = []
    for c in range(3):
        level = 7.0 + c
        col = []
        for _ in range(ROWS):
            if next(rand) < 0.002:
                level = round(level + (next(rand) - 0.5) * 4, 1)
            col.append(f"{level:g}")
        cols.append(col)
    return cols


def main(folder):
    for name, make, seed in (("walk", walk, 14001), ("sine", sine, 14002),
                             ("ties", ties, 14003), ("constant", constant, 14004)):
        cols = make(lcg(seed))
        with open(os.path.join(folder, name + ".csv"), "w", newline="\n") as f:
            for row in zip(*cols):
                f.write(",".join(row) + "\n")


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__)))
