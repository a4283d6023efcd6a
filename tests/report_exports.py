#!/usr/bin/env python3
"""pair_report's exports and escaping, end to end on the bundled example.

    report_exports.py PAIR_REPORT PROBE_RANK PAIR_SEARCH SOURCE_DIR WORK_DIR

- --tsv and --edges load with Python's csv module (tab-separated) and hold the
  numbers of the significance table and of the page's top-pair table;
- names with markup and quotes (probes, samples, gene symbols, descriptions)
  leave the page with exactly the elements and attributes of a page made with
  plain names, and come back unchanged from the exports.
"""
import collections
import csv
import html.parser
import os
import shutil
import subprocess
import sys

report, rank, search, src, work = [os.path.abspath(a) for a in sys.argv[1:6]]
fails = []


def check(ok, what):
    if not ok:
        fails.append(what)
        print("FAIL: " + what, file=sys.stderr)


def run(*args, ok=(0,)):
    r = subprocess.run(list(args), cwd=work, capture_output=True, text=True)
    if r.returncode not in ok:
        sys.exit("FAIL: %s exited %d: %s" % (" ".join(args), r.returncode, r.stderr))
    return r


def search_table(table, tag):
    run(rank, table, tag + ".ranked.tsv", ok=(1,))
    n = run(search, "--count-candidates", tag + ".ranked.tsv").stdout.strip()
    if os.path.exists(os.path.join(work, tag + ".rec.tsv")):
        os.remove(os.path.join(work, tag + ".rec.tsv"))
    run(search, "-q", table, tag + ".ranked.tsv", "0", n, tag + ".rec.tsv", ok=(1,))
    run(sys.executable, os.path.join(src, "tests", "fake_signif.py"), tag + ".rec.tsv", tag + ".signif.tsv",
        "--expr", table, "--p-search")


def read_tsv(name):
    """Rows of a table by column name, its provenance lines ("# ...") skipped."""
    with open(os.path.join(work, name), newline="", encoding="utf-8") as f:
        lines = f.readlines()
    head = 0
    while head < len(lines) and lines[head].startswith("#"):
        head += 1
    return list(csv.DictReader(lines[head:], delimiter="\t"))


class Page(html.parser.HTMLParser):
    """Tags and attribute names of a page, and the cells of its top-pair table."""

    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.tags, self.attrs = collections.Counter(), collections.Counter()
        self.rows, self.row, self.cell, self.in_top = [], None, None, False
        self.head = []

    def handle_starttag(self, tag, attrs):
        self.tags[tag] += 1
        for k, _ in attrs:
            self.attrs[k] += 1
        if tag == "h2":
            self.in_top = dict(attrs).get("id") == "top"
        if self.in_top and tag == "tr":
            self.row = []
        if self.row is not None and tag in ("td", "th"):
            self.cell = ""

    def handle_endtag(self, tag):
        if self.cell is not None and tag in ("td", "th"):
            self.row.append(self.cell.strip())
            self.cell = None
        if self.row is not None and tag == "tr":
            if self.head:
                self.rows.append(self.row)
            else:
                self.head = self.row
            self.row = None
        if tag == "table":
            self.in_top = False

    def handle_data(self, data):
        if self.cell is not None:
            self.cell += data


def parse(name):
    p = Page()
    with open(os.path.join(work, name), encoding="utf-8") as f:
        p.feed(f.read())
    return p


shutil.rmtree(work, ignore_errors=True)
os.makedirs(work)
table = os.path.realpath(os.path.join(src, "examples", "all_bcr_abl_500.tsv"))
annot = os.path.realpath(os.path.join(src, "tests", "fixtures", "report", "annot_example.tsv"))

# ---- exports hold the table's and the page's numbers
search_table(table, "ex")
top = 8
run(report, "--top", str(top), "--signif", "ex.signif.tsv", "--annot", annot, "--tsv", "pairs.tsv", "--edges",
    "edges.tsv", table, "ex.ranked.tsv", "ex.rec.tsv", "page.html")
sig = {(r["first"], r["second"]): r for r in read_tsv("ex.signif.tsv")}
pairs, edges = read_tsv("pairs.tsv"), read_tsv("edges.tsv")
check(len(pairs) == len(sig), "pairs.tsv has %d rows, the table %d distinct pairs" % (len(pairs), len(sig)))
check([r["rank"] for r in pairs] == [str(k + 1) for k in range(len(pairs))], "pairs.tsv ranks are not 1..n")
key = [(float(r["q"]), -float(r["base"])) for r in pairs]
check(key == sorted(key), "pairs.tsv is not ordered by q, then base synergy descending")
for r in pairs:
    s = sig.get((r["first_probe"], r["second_probe"]))
    check(s is not None, "pairs.tsv pair %s, %s is not in the table" % (r["first_probe"], r["second_probe"]))
    if s is None:
        continue
    for c in ("base", "final", "p", "q", "p_search"):
        check(r[c] == s[c], "pairs.tsv %s of %s differs from the table: %s, %s" % (c, r["first_probe"], r[c], s[c]))
    check(r["pass"] == ("1" if float(s["q"]) < 0.05 else "0"), "pass flag of " + r["first_probe"])
    check(int(r["flipped"]) == len([x for x in r["flipped_samples"].split(",") if x]), "flip count and list differ")
want_edges = [r for r in pairs if r["pass"] == "1"]
check(len(edges) == len(want_edges) and len(edges) > 0, "edges.tsv has %d rows, expected %d" % (len(edges), len(want_edges)))
for e, r in zip(edges, want_edges):
    check((e["source"], e["target"], e["base"], e["final"], e["q"]) == (r["first"], r["second"], r["base"], r["final"], r["q"]),
          "edge %s -- %s differs from pairs.tsv" % (e["source"], e["target"]))
check(any(r["first"] != r["first_probe"] and r["first"].endswith(" (" + r["first_probe"] + ")") for r in pairs),
      "no 'symbol (probe)' name in pairs.tsv")
page = parse("page.html")
col = {h: k for k, h in enumerate(page.head)}
check(len(page.rows) == top, "page's top table has %d rows, expected %d" % (len(page.rows), top))
for cells, r in zip(page.rows, pairs):
    got = (cells[col["#"]], cells[col["first probe (x)"]], cells[col["second probe (y)"]], cells[col["base synergy"]],
           cells[col["final synergy"]], cells[col["p"]], cells[col["q"]], cells[col["p_search"]],
           cells[col["joint clusters"]], cells[col["flipped samples"]].split(" ")[0])
    want = (r["rank"], r["first"], r["second"], r["base"], r["final"], r["p"], r["q"], r["p_search"], r["joint_clusters"],
            r["flipped"])
    check(got == want, "page row %s differs from pairs.tsv: %s, %s" % (r["rank"], got, want))

# without a significance table: final synergy order, no p or q columns
run(report, "--top", str(top), "--tsv", "plain.tsv", table, "ex.ranked.tsv", "ex.rec.tsv", "plain.html")
plain = read_tsv("plain.tsv")
check("q" not in plain[0] and len(plain) == len(sig), "plain.tsv columns or rows")
fin = [float(r["final"]) for r in plain]
check(fin == sorted(fin, reverse=True), "plain.tsv is not ordered by final synergy")
pp = parse("plain.html")
check([c[1] for c in pp.rows] == [r["first"] for r in plain[:top]], "plain page and plain.tsv differ in order")
r = subprocess.run([report, "--edges", "e.tsv", table, "ex.ranked.tsv", "ex.rec.tsv", "x.html"], cwd=work,
                   capture_output=True, text=True)
check(r.returncode == 2 and "--edges needs --signif" in r.stderr and not os.path.exists(os.path.join(work, "x.html")),
      "--edges without --signif is not refused")

# ---- markup in every name: the same elements and attributes as plain names
bad = ['<img src=x onerror="alert(%d)">', '"><script>alert(%d)</script>', "a'b&amp;%d<!--", "</svg><b onclick=x>%d"]


def named(kind, text, k):
    """Name k with markup ('bad') or a plain name of the same length ('good')."""
    s = bad[k % 4] % k
    return s if kind == "bad" else "".join(c if c.isalnum() else "x" for c in s)


with open(table, encoding="utf-8") as f:
    lines = [l for l in f.read().split("\n") if l]
with open(annot, encoding="utf-8") as f:
    ann = [l.split("\t") for l in f.read().split("\n")[1:] if l]
for kind in ("bad", "good"):
    head = lines[0].split("\t")
    out = ["\t".join([head[0]] + [named(kind, h, k) if k % 3 == 0 else h for k, h in enumerate(head[1:])]), lines[1]]
    names = {}
    for k, line in enumerate(lines[2:]):
        f = line.split("\t")
        names[f[0]] = named(kind, f[0], k) if k % 2 == 0 else f[0]
        out.append("\t".join([names[f[0]]] + f[1:]))
    with open(os.path.join(work, kind + ".tsv"), "w", encoding="utf-8") as f:
        f.write("\n".join(out) + "\n")
    with open(os.path.join(work, kind + ".annot.tsv"), "w", encoding="utf-8") as f:
        for k, a in enumerate(ann):
            if a[0] in names:
                f.write("%s\t%s\t%s\n" % (names[a[0]], named(kind, "", k), named(kind, "", k + 1)))
    if kind == "bad":
        bad_names = set(names.values())
for tag in ("bad", "good"):
    t = os.path.join(work, tag + ".tsv")
    search_table(t, tag)
    run(report, "--top", "6", "--signif", tag + ".signif.tsv", "--annot", tag + ".annot.tsv", "--tsv", tag + ".pairs.tsv",
        "--edges", tag + ".edges.tsv", t, tag + ".ranked.tsv", tag + ".rec.tsv", tag + ".html")
b, g = parse("bad.html"), parse("good.html")
check(b.tags == g.tags, "markup in names changed the page's elements: %s" % ((b.tags - g.tags) + (g.tags - b.tags)))
check(b.attrs == g.attrs, "markup in names changed the page's attributes: %s" % ((b.attrs - g.attrs) + (g.attrs - b.attrs)))
check("script" not in b.tags and not any(a.startswith("on") for a in b.attrs), "a script or event attribute in the page")
bp = read_tsv("bad.pairs.tsv")
check(all(r["first_probe"] in bad_names and r["second_probe"] in bad_names for r in bp),
      "names with markup or quotes do not come back from bad.pairs.tsv")
check(any('"' in r["first_probe"] for r in bp), "no name with a quote reached bad.pairs.tsv (test too weak)")

if fails:
    sys.exit("%d failures" % len(fails))
print("ok: exports load with csv and match the page; markup in names stays text")
