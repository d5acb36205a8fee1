"""The pieces every test and tool script of Zorven shares (standard library only).

    checks    Failure and check(): the one way a script states what must hold
    record    the firmware package record as the build wrote it
    printer   the virtual printer: started on a pty, stopped, its JSON summary read
    logs      the dialog's log texts and the production log line
    faults    the printer's faults and the log each must leave
    procfs    figures of a process from /proc
    station   zorven-cli as a station runs it: Ctrl-C in the middle of a transfer
    wine      a Wine session: prefix, COM port links, Xvfb, a program started and ended

Scripts import it as a package; CTest and the scripts put tests/ on PYTHONPATH.
"""
