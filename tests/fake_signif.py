#!/usr/bin/env python3
"""Made-up significance table (and search-null file) for the report's tests.

    fake_signif.py RECORDS SIGNIF [--expr EXPR] [--p-search] [--null NULL K]

Reads a pair record file and writes one line per distinct pair in the format
pair_signif writes (columns, order, number formats), with invented numbers:
p falls with the final synergy and varies with a hash of the record's place, q is
the Benjamini-Hochberg value of p, base is the final synergy less 0.02 per
flipped label (labels read from EXPR's second line; without it a made-up
count). Only for testing and measuring the report: nothing here is a
permutation test.
"""
import os, re, sys, zlib, math


def columns(p_search):
    """The table's columns, from the one column table of io/sigtab.h (without
    the tail's columns: the table of --tail none)."""
    with open(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "io", "sigtab.h")) as f:
        cols = re.findall(r"^\s*\{\"(\w+)\", (0|'s'|'t'),", f.read(), re.M)
    return [n for n, w in cols if w == "0" or (w == "'s'" and p_search)]


def g(x):
    return "%g" % x


def g6(x):
    return "%.6g" % x


def main(a):
    if len(a) < 2:
        sys.exit(__doc__)
    rec, out = a[0], a[1]
    ps = "--p-search" in a
    null = None
    if "--null" in a:
        k = a.index("--null")
        null, n_null = a[k + 1], int(a[k + 2])
    seen, rows = set(), []
    with open(rec) as f:
        lines = f.read().split("\n")
    labels = None
    if "--expr" in a:
        with open(a[a.index("--expr") + 1]) as f:
            f.readline()
            labels = f.readline().rstrip("\r\n").split("\t")[1:]
    for i in range(0, len(lines) - 1, 2):
        f1 = lines[i].split("\t")
        x, y, fin = f1[0], f1[1], f1[2]
        key = (min(x, y), max(x, y))
        if key in seen:
            continue
        seen.add(key)
        lab = f1[3:]
        rows.append((x, y, float(fin), fin, lab))
    perms = 1000
    res = []
    for n, (x, y, fin, fin_txt, lab) in enumerate(rows):
        # from the record's place, not the names: tables that differ only in
        # names get the same numbers
        u = (zlib.crc32(str(n).encode()) % 10007) / 10007.0
        if labels is not None:
            flips = sum(1 for s, t in zip(labels, lab) if s != t)
        else:
            flips = zlib.crc32(str(n + 1).encode()) % 7
        base = float(g(fin - 0.02 * flips))
        hits = int(round(perms * min(1.0, math.exp(-9.0 * max(0.0, fin - 0.25)) * (0.2 + 1.6 * u))))
        hits = min(hits, perms)
        p = (1 + hits) / (1 + perms)
        res.append([x, y, base, fin_txt, flips, p, 1.0, u, perms, perms, hits, n])
    m = len(res)
    order = sorted(range(m), key=lambda k: res[k][5])
    qmin = 1.0
    for r in range(m - 1, -1, -1):
        k = order[r]
        qmin = min(qmin, res[k][5] * m / (r + 1))
        res[k][6] = qmin
    res.sort(key=lambda r: (r[5], -r[2], r[11]))
    cols = columns(ps)
    with open(out, "w") as f:
        # provenance lines first, as pair_signif writes them
        f.write("# fake_signif.py\n# command: fake_signif.py %s\n" % " ".join(a))
        f.write("\t".join(cols) + "\n")
        for x, y, base, fin_txt, flips, p, q, u, pe, ad, hi, _ in res:
            v = {"first": x, "second": y, "base": g(base), "final": fin_txt, "flips": str(flips), "p": g6(p),
                 "q": g6(q), "p_search": g6(min(1.0, 0.5 * u + p)), "perms": str(pe), "admissible": str(ad),
                 "hits": str(hi)}
            f.write("\t".join(v[c] for c in cols) + "\n")
    if null:
        best = max((r[2] for r in rows), default=0.5)
        with open(null, "w") as f:
            f.write("seed\tcandidates\tbest_base\tbest_final\n")
            for s in range(1, n_null + 1):
                if s % 9 == 0:
                    f.write("%d\t0\tNA\tNA\n" % s)
                    continue
                u = (zlib.crc32(str(s).encode()) % 1000) / 1000.0
                f.write("%d\t%d\t%s\t%s\n" % (s, 20 + s % 5, g(best * (0.5 + 0.3 * u)), g(best * (0.7 + 0.35 * u))))


main(sys.argv[1:])
