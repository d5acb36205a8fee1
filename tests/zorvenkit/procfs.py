"""Figures of a process from /proc."""

import os

CLK_TCK = os.sysconf("SC_CLK_TCK")


def _cmdlines():
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open(f"/proc/{entry}/cmdline", "rb") as f:
                yield int(entry), f.read().split(b"\0")
        except OSError:
            continue


def find_unix_pid(exe_suffix_path):
    """The Wine process that runs a program: the one whose first argument is the program's
    Windows path (the desktop's explorer carries that path as a later argument)."""
    for pid, argv in _cmdlines():
        if argv and argv[0].decode("latin-1").lower().endswith(exe_suffix_path.lower()):
            return pid
    return None


def wineserver_pid(prefix):
    """The wineserver of this prefix."""
    for pid, argv in _cmdlines():
        if not os.path.basename(argv[0]).startswith(b"wineserver"):
            continue
        try:
            with open(f"/proc/{pid}/environ", "rb") as f:
                if ("WINEPREFIX=" + prefix).encode() in f.read().split(b"\0"):
                    return pid
        except OSError:
            continue
    return None


def holds_open(pid, path):
    """Whether process `pid` has `path` open."""
    try:
        fds = os.listdir(f"/proc/{pid}/fd")
    except OSError:
        return False
    for fd in fds:
        try:
            if os.readlink(f"/proc/{pid}/fd/{fd}") == path:
                return True
        except OSError:
            pass
    return False


def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / CLK_TCK  # utime, stime


def status_figures(pid):
    """VmRSS, VmHWM (KiB), threads, and open fds."""
    keys = {"VmRSS": "rss_kb", "VmHWM": "hwm_kb", "Threads": "threads"}
    out = {}
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            key, _, value = line.partition(":")
            if key in keys:
                out[keys[key]] = int(value.split()[0])
    out["fds"] = len(os.listdir(f"/proc/{pid}/fd"))
    return out
