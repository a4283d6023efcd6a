"""The core's work runs without the GIL: another Python thread goes on during
a search; Ctrl-C (KeyboardInterrupt) stops a long threaded search between
pairs and a long significance run between rounds, and the session goes on."""

import os
import signal
import threading
import time

import pytest

import synergy
from conftest import gen_table


@pytest.fixture(scope="module")
def big():
    x, lab = gen_table(6, 600, 60)
    r = synergy.probe_rank(x, lab, threads=2)
    p40 = synergy.pair_search(x.iloc[:40], lab, quiet=True)
    return x, lab, r, p40


def test_other_thread_runs_during_search(big):
    x, lab, r, _ = big
    ticks = []
    stop = threading.Event()

    def count():
        while not stop.is_set():
            ticks.append(time.monotonic())
            time.sleep(0.001)

    n = int((r["score"] > synergy.CAND_BOUND).sum())
    t = threading.Thread(target=count)
    t.start()
    t0 = time.monotonic()
    synergy.pair_search(x, lab, ranked=r, end=min(n, 12), threads=2)
    t1 = time.monotonic()
    stop.set()
    t.join()
    # with the GIL held, the counter would stand still for the whole call
    during = [v for v in ticks if t0 < v < t1]
    assert len(during) >= 10, f"{len(during)} ticks in {t1 - t0:.2f} s"


LONG = {
    "a threaded search between pairs": lambda x, lab, r, p40: synergy.pair_search(x, lab, ranked=r, threads=2),
    # no pair ever stops: rounds of shufflings until the interrupt
    "a threaded significance run between rounds": lambda x, lab, r, p40: synergy.pair_signif(
        x.iloc[:40], lab, p40, perm=10**15, hits=10**6, threads=2, quiet=True),
}


@pytest.mark.parametrize("what", LONG)
def test_ctrl_c_stops(big, what):
    x, lab, r, p40 = big
    # what Ctrl-C at a terminal sends: SIGINT to the process
    timer = threading.Timer(1.0, os.kill, (os.getpid(), signal.SIGINT))
    timer.start()
    t0 = time.monotonic()
    try:
        with pytest.raises(KeyboardInterrupt):
            LONG[what](x, lab, r, p40)
    finally:
        timer.cancel()
    assert time.monotonic() - t0 < 10
    # the session goes on: the state was freed and the next call runs
    assert len(synergy.pair_search(x.iloc[:20], lab, quiet=True)) > 0
