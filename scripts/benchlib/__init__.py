"""The transfer benchmark's parts, shared by scripts/bench_update.py, bench_cli.py and
bench_station.py: the wire model (wire_model), single runs under Wine (wine_runs), the XMODEM-1K
reference through its relay (xmodem_relay), and the figures as printed (report)."""
