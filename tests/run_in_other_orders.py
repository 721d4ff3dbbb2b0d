#!/usr/bin/env python3
"""Runs one Qt Test suite with its test functions in reverse order, then shuffled, to show that
no test depends on what ran before it (a timer left over from one test, say, firing in the next).

usage: run_in_other_orders.py SUITE [SEED]

The seed of the shuffle is printed; SEED (or ORDER_SEED in the environment) repeats a run.
Exits with the first failing run's status.
"""
import os
import random
import subprocess
import sys
import time

suite = sys.argv[1]
seed = int(sys.argv[2] if len(sys.argv) > 2 else os.environ.get("ORDER_SEED", time.time_ns() % 1_000_000))

listed = subprocess.run([suite, "-functions"], capture_output=True, text=True, check=True).stdout
functions = [line.strip().removesuffix("()") for line in listed.splitlines() if line.strip().endswith("()")]

shuffled = functions[:]
random.Random(seed).shuffle(shuffled)
for name, order in (("reversed", functions[::-1]), (f"shuffled with seed {seed}", shuffled)):
    print(f"== {os.path.basename(suite)}, {name}: {' '.join(order)}", flush=True)
    run = subprocess.run([suite, *order])
    if run.returncode != 0:
        print(f"failed {name}; repeat with: {sys.argv[0]} {suite} {seed}")
        sys.exit(run.returncode)
