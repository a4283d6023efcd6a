#!/usr/bin/env python3
"""Write examples/planted_pair.tsv: a small table with one planted synergistic pair.

60 samples (30 labelled 1), 200 probes of log2-scale noise (each its own mean
from 4 to 12 and spread from 0.1 to 2), and two probes, plant_a and plant_b,
that each split the samples into two tight groups that say nothing about the
labels alone, while together they do: the label is (plant_a high) XOR
(plant_b high), with 3 of every 15 samples against it. The seed is fixed, so
the file is the same on every run:  python3 examples/make_planted.py OUT
"""
import math
import random
import sys

N, PROBES, SEED = 60, 200, 20240611


def main(out):
    g = random.Random(SEED)
    order = list(range(N))
    g.shuffle(order)
    x, y, lab = [0] * N, [0] * N, [0] * N
    q = N // 4
    for k, s in enumerate(order):
        quad, r = k // q, k % q
        x[s], y[s] = quad & 1, quad >> 1
        lab[s] = (x[s] ^ y[s]) ^ (1 if r < q // 5 else 0)
    rows = []
    for p in range(PROBES):
        mu = 4 + 8 * g.random()
        sd = math.exp(math.log(0.1) + math.log(20.0) * g.random())
        rows.append((f"g{p:03d}", [mu + sd * g.gauss(0, 1) for _ in range(N)]))
    # the pair among the noise, not first: the ranking has to find it
    rows.insert(57, ("plant_a", [6 + x[s] + 0.01 * g.gauss(0, 1) for s in range(N)]))
    rows.insert(131, ("plant_b", [9 + y[s] + 0.01 * g.gauss(0, 1) for s in range(N)]))
    with open(out, "w") as f:
        f.write("probe\t" + "\t".join(f"s{s:02d}" for s in range(N)) + "\n")
        f.write("label\t" + "\t".join(str(v) for v in lab) + "\n")
        for name, v in rows:
            f.write(name + "\t" + "\t".join(f"{a:.6f}" for a in v) + "\n")


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit("usage: make_planted.py OUT")
    main(sys.argv[1])
