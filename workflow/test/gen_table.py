#!/usr/bin/env python3
"""Write a small expression table for the workflow tests.

Values sit on a coarse grid (steps of 0.06, half of them at most 0.12 apart),
so distances tie and land on or next to the clustering threshold; half of the
probes are noise with respect to the labels, which makes them candidates.

usage: gen_table.py SEED N_SAMPLES N_PROBES OUT
"""
import random
import sys


def main(argv):
    if len(argv) != 5:
        sys.stderr.write(__doc__.split("\n\n")[-1].strip() + "\n")
        return 2
    seed, n_samp, n_prob, out = int(argv[1]), int(argv[2]), int(argv[3]), argv[4]
    rng = random.Random(seed)
    labels = [s % 2 for s in range(n_samp)]
    rng.shuffle(labels)
    lines = ["probe\t" + "\t".join("s%d" % s for s in range(n_samp)),
             "label\t" + "\t".join(str(x) for x in labels)]
    for p in range(n_prob):
        if p % 2 == 0:
            # unrelated to the labels: a few grid levels drawn at random
            levels = rng.randint(2, 4)
            vals = [0.06 * rng.randrange(0, 3 * levels) for _ in range(n_samp)]
        else:
            # follows the labels, with some samples out of place
            vals = [0.06 * (4 * lab + rng.randrange(0, 2)) if rng.random() > 0.2
                    else 0.06 * rng.randrange(0, 6) for lab in labels]
        lines.append("g%d\t" % p + "\t".join("%.2f" % v for v in vals))
    with open(out, "w") as f:
        f.write("\n".join(lines) + "\n")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
