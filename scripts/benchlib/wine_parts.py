"""The parts of the Wine benchmark (scripts/bench_update.py): each runs its programs in turn,
`runs` times, so that they see the same machine load, and prints its figures."""

import os

from benchlib import xmodem_relay
from benchlib.report import block_phase_text, med, show_paced, show_paced_medians
from benchlib.wine_runs import floor_run, startup_once, update_run
from benchlib.wire_model import BAUD, BITS_PER_BYTE, USB_LATENCIES_MS, block_count
from zorvenkit.checks import Failure


def startup_part(mini, programs, runs_n):
    """Start-up of each program beside the minimal dialog program's."""
    print("== start-up: program start to its dialog shown and answering, %d runs each, in turn" % runs_n)
    starts = {"min-dialog": []}
    starts.update({n: [] for n, _ in programs})
    for _ in range(runs_n):
        starts["min-dialog"].append(startup_once(mini))
        for n, h in programs:
            starts[n].append(startup_once(h))
    for n, v in starts.items():
        print("  %-10s %s; median %.3f s" % (n, ", ".join("%.3f s" % t for t in v), med(v)))
    for n, _ in programs:
        print("  %s / min-dialog: %.3f / %.3f = %.2f" % (n, med(starts[n]), med(starts["min-dialog"]),
                                                        med(starts[n]) / med(starts["min-dialog"])))


def paced_part(runs_n, after, programs, timed, block_loop, pkg, total, limit):
    """(a) The floor and every program paced at 115200 baud, in turn; then (c) the updater's cost
    during the last paced run."""
    print("== (a) paced: printer at %d baud, dialog at %d; %d runs each, in turn" % (BAUD, BAUD, runs_n))
    print("  package: variant %d, %d image bytes, %d blocks" % (pkg.variant, pkg.length, block_count(pkg)))
    print("  wire-time limit: %d bytes both ways x %d bits / %d baud = %.3f s" % (total, BITS_PER_BYTE, BAUD, limit))
    paced = {"floor": []}
    paced.update({n: [] for n, _ in programs})
    paced_runs = {n: [] for n in paced}
    for i in range(runs_n):
        print(" run %d" % (i + 1))
        for n, h in [("floor", after)] + programs:
            try:
                if n == "floor":
                    r = floor_run(h, block_loop, ["--baud", str(BAUD)])
                else:
                    r = update_run(h, ["--baud", str(BAUD)], str(BAUD))
            except Failure as e:  # shown, and left out of the medians
                print("  %-8s run failed: %s" % (n, e))
                continue
            paced[n].append(show_paced(n, r, limit))
            paced_runs[n].append(r)
    print(" timed build (zorven.exe's dialog with each step of a pass timed), once")
    tr = update_run(timed, ["--baud", str(BAUD)], str(BAUD))
    show_paced("timed", tr, limit)
    print(" medians of %d runs (excess net: less the printer's own lateness in that run):" % runs_n)
    show_paced_medians(paced, limit, block_count(pkg))
    last = paced_runs["after"][-1]
    print("== (c) updater during the last paced run (zorven.exe, process %d)" % last["pid"])
    print("  CPU %.2f s over %.2f s wall = %.1f %%" % (last["cpu"], last["wall"], 100 * last["cpu"] / last["wall"]))
    if last["server_cpu"] is not None:
        print("  wineserver of the prefix: CPU %.2f s = %.1f %% of wall" % (last["server_cpu"],
                                                                        100 * last["server_cpu"] / last["wall"]))
    print("  peak memory (VmHWM) of zorven.exe: %d KiB" % last["peak"])


def instant_part(runs_n, after, programs, timed, block_loop):
    """(b) The floor and every program against a printer that answers at once, in turn. Returns
    each one's runs by name."""
    print("== (b) instant: printer answers at once; %d runs each, in turn" % runs_n)
    inst = {"floor": []}
    inst.update({n: [] for n, _ in programs})
    for _ in range(runs_n):
        inst["floor"].append(floor_run(after, block_loop, []))
        for n, h in programs:
            inst[n].append(update_run(h, [], None))
    inst_timed = update_run(timed, [], None)
    for n, v in inst.items():
        for r in v:
            ph, t = r["update"]["block_phase"], r["update"]["turnaround"]
            print("  %-8s %s; block turnaround median %.1f us, p99 %.1f us"
                  % (n, block_phase_text(ph), t["median_us"], t["p99_us"]))
    ph = inst_timed["update"]["block_phase"]
    print("  timed    block phase: %d blocks in %.3f s: %.1f blocks/s" % (ph["blocks"], ph["seconds"],
                                                                        ph["blocks_per_s"]))
    return inst


def timed_steps(timed, titles):
    """The steps of a block's pass that zorven-timed.exe wrote for each of its runs."""
    with open(os.path.join(timed.work, "zorven-timed.txt")) as f:
        runs = f.read().split("run: ")[1:]
    for title, text in zip(titles, runs):
        print("== steps of a block's pass inside zorven-timed.exe, %s run" % title)
        print("  run: " + text.rstrip().replace("\n", "\n  "))


def usb_part(h, pkg, limit):
    """(f) The paced update with the printer's replies handed over as by a USB serial adapter."""
    blocks = block_count(pkg)
    print("== (f) paced at %d baud through the printer's USB adapter model (62-byte packets, latency timer), "
          "zorven.exe, once each" % BAUD)
    for ms in USB_LATENCIES_MS:
        r = update_run(h, ["--baud", str(BAUD), "--usb-latency", str(ms)], str(BAUD))
        update = r["update"]["seconds"]
        excess_ms = (update - limit) * 1000
        print("  latency timer %2d ms: %.3f s = %.4f x the limit; excess %.1f ms = %.2f ms for each of %d blocks"
              % (ms, update, update / limit, excess_ms, excess_ms / blocks, blocks))


def xmodem_part(inst):
    """XMODEM-1K of the same run, and each program's instant block phase as a share of its steady
    state."""
    def show_size(size, runs):
        shown = ", ".join("%.3f s" % t if t is not None else "no end in %d s" % xmodem_relay.XMODEM_DEADLINE_S
                          for t, _, _ in runs)
        print("  XMODEM-1K CRC, %d bytes, %d runs: %s; rx retries %s; relay releases without a purge %s"
              % (size, len(runs), shown, [r for _, r, _ in runs], [f for _, _, f in runs]))

    typical, steady = xmodem_relay.measure(show_size)
    if steady is None:
        print("  XMODEM-1K CRC steady state: not measured (no completed run of each size)")
        return
    sizes = xmodem_relay.XMODEM_SIZES
    print("  XMODEM-1K CRC steady state, medians of completed runs: (%d - %d) bytes / (%.3f - %.3f) s = %.0f bytes/s"
          % (sizes[1], sizes[0], typical[1], typical[0], steady))
    for n, v in inst.items():
        ratios = [r["update"]["block_phase"]["bytes_per_s"] / steady for r in v]
        print("  %-8s block phase / XMODEM steady state: %s; median %.2f, spread %.2f..%.2f"
              % (n, ", ".join("%.2f" % x for x in ratios), med(ratios), min(ratios), max(ratios)))
