#!/usr/bin/env python3
"""A long soak of zorven.exe under Wine: N updates in ONE dialog (the program starts once and
START is pressed N times), the virtual printer's fault changing from run to run in a fixed cycle.

Before each run the printer is started again with that run's fault, on a new pty behind the same
port path (as a printer that is switched off and on, or a new printer on the line's adapter).
Every run must end as its fault calls for: the exact log lines of that run, the controls ready
again, one production log line exactly for the runs that finish (serial, log tag, time of the
run) and none for the others, the image received byte for byte where the update finished, and
the port closed again (the program's Wine process no longer holds the pty open).

After every run the program's resources are sampled from outside:
  from Windows, through zorven-driver's "resources": GetProcessHandleCount, GetGuiResources for
    USER and GDI objects (Wine's is a stub: it returns 0 and says so with its error code, which
    is reported), the live entries of the process's GDI handle table, and its windows;
  from Linux, /proc of the Wine process that runs the program: VmRSS, VmHWM, open fds, threads.
The soak fails unless every figure that is real stays flat (see FLATNESS) and every run was right.

    soak.py --build-dir B --program EXE --package RECORD.bin --com N --runs N [--samples CSV]
"""

import argparse
import csv
import os
import shutil
import signal
import sys
import time

from zorvenkit.checks import Failure, check
from zorvenkit.faults import fault_table, last_text
from zorvenkit.logs import check_production_line, log_texts
from zorvenkit.procfs import find_unix_pid, holds_open, status_figures
from zorvenkit.wine import Session

# Flatness. After the warm-up runs (one fault cycle, at least), a figure is flat when neither the
# last sample nor any later sample exceeds the warm-up sample by more than its margin, and the
# least-squares trend over the samples after the warm-up, carried over that span, stays within the
# margin as well. Counts get a margin of a few objects: one object lost per run shows after a few
# cycles. Memory gets 1 MiB plus an allowance for the log lines the dialog keeps by design (it
# never clears its log), of LOG_LINE_BYTES each.
COUNT_MARGIN = 3
MEMORY_MARGIN_KB = 1024
LOG_LINE_BYTES = 256
COUNT_FIGURES = ["handles", "server_handles", "gui_user", "gui_gdi", "gdi_table", "windows", "fds", "threads"]
MEMORY_FIGURES = ["rss_kb", "hwm_kb"]


def fault_cycle(blocks):
    """Every fault of the table once; --no-wait leaves the dialog as --silent wait does."""
    return [f for f in fault_table(blocks) if f[0] != "no-wait"]


# -- the soak --------------------------------------------------------------------------------

class Soak:
    def __init__(self, h, opts):
        self.h = h
        self.opts = opts
        self.blocks = h.package.blocks
        self.cycle = fault_cycle(self.blocks)
        self.outcomes = {}
        self.samples = []
        self.unix_pid = None
        self.log_count = 0
        self.sn_size = 0

    def one_run(self, index):
        h = self.h
        name, faults, expected, finished, serial = self.cycle[index % len(self.cycle)]
        self.pty = h.start_printer(faults).pty
        base = self.log_count
        started = h.run_update()
        last = last_text(expected)
        # Silence at the closing reply takes 10 s, elsewhere 5 s; a RETRY storm takes its time.
        a = h.cmd("wait-log-from", base, last, 120)
        check(a.get("ok"), f"run {index + 1} ({name}): no log line {last!r}; log ends: {a.get('log', [])[-12:]}")
        h.must("wait-idle", 30)
        c = h.must("controls")
        check(c["start_text"] == "START" and all(c["enabled"].values()),
              f"run {index + 1} ({name}): controls not ready after the run: {c}")
        a = h.must("log-from", base)
        texts = log_texts(a["log"])
        if texts != expected:
            short = lambda t: t if len(t) <= 24 else t[:12] + [f"... {len(t) - 24} more ..."] + t[-12:]
            raise Failure(f"run {index + 1} ({name}): log {short(texts)}, expected {short(expected)}")
        self.log_count = a["count"]
        # The program has closed the port.
        check(not holds_open(self.unix_pid, self.pty), f"run {index + 1} ({name}): {self.pty} still open after the run")
        self.check_production_log(index, name, finished, serial, started)
        if finished:
            h.stop_printer()
            check(h.printer.image() == h.package.image, f"run {index + 1} ({name}): the image the printer received differs")
        self.outcomes[name] = self.outcomes.get(name, 0) + 1

    def check_production_log(self, index, name, finished, serial, started):
        data = self.h.production_log() or b""
        new = data[self.sn_size:]
        check(len(data) >= self.sn_size, "the production log shrank")
        self.sn_size = len(data)
        if not finished:
            check(new == b"", f"run {index + 1} ({name}): a failed run wrote {new!r} to the production log")
            return
        try:
            check_production_line(new, serial, self.h.package.log_tag, started)
        except Failure as e:
            raise Failure(f"run {index + 1} ({name}): {e}")

    def sample(self, run):
        h = self.h
        r = h.must("resources")
        # A live process always holds handles and a dialog always has USER and GDI objects: a 0
        # is a call that only pretends (Wine's GetProcessHandleCount fills in 0, its
        # GetGuiResources returns 0 with ERROR_CALL_NOT_IMPLEMENTED), and is not used.
        s = {"run": run, "log_lines": self.log_count,
             "handles": r["handles"] if r["handles_ok"] and r["handles"] > 0 else None,
             "server_handles": r["system_handles"] if r["system_handles"] > 0 else None,
             "gui_user": r["gui_user"] or None, "gui_user_error": r["gui_user_error"],
             "gui_gdi": r["gui_gdi"] or None, "gui_gdi_error": r["gui_gdi_error"],
             "gdi_table": r["gdi_table"] if r["gdi_table"] > 0 else None,
             "windows": r["windows"], **status_figures(self.unix_pid)}
        self.raw = r
        self.samples.append(s)
        return s


def row(s):
    def f(k):
        v = s.get(k)
        return "-" if v is None else str(v)
    return (f"{s['run']:>6} {s['log_lines']:>7} {f('handles'):>7} {f('server_handles'):>7}"
            f" {f('gui_user'):>5}/{f('gui_user_error'):<4}"
            f" {f('gui_gdi'):>5}/{f('gui_gdi_error'):<4} {f('gdi_table'):>5} {f('windows'):>4} {f('fds'):>4}"
            f" {f('threads'):>4} {f('rss_kb'):>8} {f('hwm_kb'):>8}")


HEADER = ("   run logline handles srvhndl GUIusr/err GUIgdi/err gdiTb wins  fds thrd   rss_kB   hwm_kB")


def flatness(samples, warmup):
    """The verdict for each figure: (name, warm-up value, last, max after warm-up, trend over the
    span, margin, flat?). Figures the system did not give are left out, and said so."""
    base = next(s for s in samples if s["run"] >= warmup)
    after = [s for s in samples if s["run"] >= base["run"]]
    verdicts = []
    for k in COUNT_FIGURES + MEMORY_FIGURES:
        values = [s.get(k) for s in after]
        if any(v is None for v in values):
            verdicts.append((k, None, None, None, None, None, None))
            continue
        if k in MEMORY_FIGURES:
            margin = MEMORY_MARGIN_KB + (after[-1]["log_lines"] - base["log_lines"]) * LOG_LINE_BYTES // 1024
        else:
            margin = COUNT_MARGIN
        xs = [s["run"] for s in after]
        n = len(xs)
        trend = 0.0
        if n >= 2 and xs[-1] > xs[0]:
            mx, my = sum(xs) / n, sum(values) / n
            sxx = sum((x - mx) ** 2 for x in xs)
            slope = sum((x - mx) * (y - my) for x, y in zip(xs, values)) / sxx
            trend = slope * (xs[-1] - xs[0])
        first = values[0]
        flat = values[-1] - first <= margin and max(values) - first <= margin and trend <= margin
        verdicts.append((k, first, values[-1], max(values), trend, margin, flat))
    return base, verdicts


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--build-dir", required=True)
    ap.add_argument("--program", required=True)
    ap.add_argument("--package", required=True)
    ap.add_argument("--com", type=int, required=True)
    ap.add_argument("--printer")
    ap.add_argument("--runs", type=int, required=True)
    ap.add_argument("--warmup", type=int, default=0, help="warm-up runs (default: one fault cycle)")
    ap.add_argument("--print-every", type=int, default=25, help="print every k-th sample")
    ap.add_argument("--samples", help="write every sample to this CSV file")
    opts = ap.parse_args()

    h = Session(opts.build_dir, opts.com, program=opts.program, package=opts.package, printer=opts.printer)
    # The printer is started for every run: a copy of its own keeps a rebuild of the tree during a
    # long soak from changing it under way.
    printer_copy = os.path.join(h.work, "zorven-printer")
    shutil.copy(h.printer_exe, printer_copy)
    h.printer_exe = printer_copy
    check(h.package.variant in (0, 1, 4), "the soak's expected logs are those of the common entry handshake "
                                          f"(variants 0, 1, 4), not variant {h.package.variant}")
    soak = Soak(h, opts)
    warmup = opts.warmup or len(soak.cycle)
    ok = False
    started = time.time()
    done = 0
    print(f"soak: {opts.runs} runs of {os.path.basename(opts.program)} ({h.package.length} bytes, "
          f"{soak.blocks} blocks), fault cycle of {len(soak.cycle)}: " + ", ".join(c[0] for c in soak.cycle))
    print(HEADER, flush=True)
    try:
        h.start_xvfb()
        h.once("reset-settings")
        h.start_printer()
        h.start_program()
        h.must("set-port", h.port_name)
        soak.unix_pid = find_unix_pid(h.exe_suffix)
        check(soak.unix_pid is not None, "cannot find the program's Wine process in /proc")
        first = soak.sample(0)
        print(row(first), flush=True)
        for i in range(opts.runs):
            soak.one_run(i)
            done = i + 1
            s = soak.sample(done)
            if done % opts.print_every == 0 or done == warmup or done == opts.runs:
                print(row(s), f"{time.time() - started:8.0f} s", flush=True)
        ok = True
    except Failure as e:
        print(f"FAIL after {done} complete runs: {e}")
        if h.printer:
            print(h.printer.tail())
    except KeyboardInterrupt:
        print(f"interrupted after {done} complete runs")
    finally:
        h.close()
    elapsed = time.time() - started

    if opts.samples and soak.samples:
        with open(opts.samples, "w", newline="") as f:
            w = csv.DictWriter(f, fieldnames=list(soak.samples[0].keys()))
            w.writeheader()
            w.writerows(soak.samples)
    print(f"\nruns completed: {done} of {opts.runs} in {elapsed:.0f} s; outcomes per fault:")
    for name, *_ in soak.cycle:
        print(f"  {name:<20} {soak.outcomes.get(name, 0)}")
    if soak.samples:
        r = soak.raw
        print("what this system reports (a '-' in the table: not available, not used):")
        print(f"  GetProcessHandleCount: ok={r['handles_ok']} value={r['handles']}"
              + (" - returns 0 for a live process: a stub here" if soak.samples[-1]["handles"] is None else ""))
        print(f"  GetGuiResources: USER {r['gui_user']} (error {r['gui_user_error']}), "
              f"GDI {r['gui_gdi']} (error {r['gui_gdi_error']})"
              + (" - a stub here" if soak.samples[-1]["gui_user"] is None else ""))
        print(f"  handles in the system handle list (srvhndl): {r['system_handles']}")
        print(f"  live entries of the GDI handle table (gdiTb): {r['gdi_table']}")
        print(f"  windows of the process, children included (wins): {r['windows']}")
        print("  fds, thrd, rss_kB, hwm_kB: /proc of the Wine process that runs the program")
    flat_ok = True
    if done >= 1 and soak.samples[-1]["run"] > warmup:
        base, verdicts = flatness(soak.samples, warmup)
        print(f"\nflatness after a warm-up of {base['run']} runs (figure: warm-up, last, max, trend, margin):")
        for k, first, last, mx, trend, margin, flat in verdicts:
            if first is None:
                print(f"  {k:<10} not available")
                continue
            print(f"  {k:<10} {first:>8} {last:>8} {mx:>8} {trend:>+9.1f} {margin:>6}  {'flat' if flat else 'NOT FLAT'}")
            flat_ok = flat_ok and flat
    else:
        print("\ntoo few runs after the warm-up to judge flatness")
    good = ok and flat_ok
    if good:
        shutil.rmtree(h.work, ignore_errors=True)
    else:
        print("working directory kept:", h.work)
    print("SOAK PASS" if good else "SOAK FAIL")
    return 0 if good else 1


if __name__ == "__main__":
    signal.signal(signal.SIGTERM, lambda *_: (_ for _ in ()).throw(KeyboardInterrupt()))
    sys.exit(main())
