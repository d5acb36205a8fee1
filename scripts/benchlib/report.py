"""The benchmark's figures as printed: medians, the block phase, one paced run's accounting of its
excess, and the medians of paced runs set beside the floor's."""

import statistics


def med(values):
    return statistics.median(values) if values else float("nan")


def block_phase_text(ph):
    """The block phase of one update as the printer counted it."""
    return ("block phase: %d blocks in %.3f s: %.1f blocks/s, %.3f ms/block, %.0f bytes/s"
            % (ph["blocks"], ph["seconds"], ph["blocks_per_s"], ph["ms_per_block"], ph["bytes_per_s"]))


def show_paced(name, r, limit):
    """One paced update: its time against the limit, and the printer's accounting of the excess.
    Returns the update time and the printer's own lateness in it."""
    u = r["update"]
    late, turns, acc = u["lateness"], u["turnaround"], u["accounting"]
    update = u["seconds"]
    excess_ms = (update - limit) * 1000
    print("  %-8s %.3f s = %.4f x the limit; excess %.1f ms" % (name, update, update / limit, excess_ms))
    if acc:
        block_sum, other_sum, gaps = turns["sum_ms"], turns["others_sum_ms"], turns["gaps_ms"]
        late_sum = late["total_ms"]
        rest = excess_ms - block_sum - other_sum - gaps - late_sum
        print("           block turnaround (last verdict byte out to the next block's first byte read), %d blocks: "
              "median %.1f us, p90 %.1f us, p99 %.1f us, sum %.3f ms"
              % (turns["blocks"], turns["median_us"], turns["p90_us"], turns["p99_us"], block_sum))
        print("           excess %.1f ms = block turnarounds %.1f + other turnarounds %.1f (%d) + receive gaps %.1f "
              "+ printer lateness %.1f (%d replies, median %.1f us, max %.1f us) + rest %.1f ms"
              % (excess_ms, block_sum, other_sum, turns["others"], gaps, late_sum, late["replies"], late["median_us"],
                 late["max_us"], rest))
        print("           printer's own count: wire %d bytes %.3f ms; accounted %.3f ms of %.3f ms"
              % (acc["bytes"], acc["wire_ms"], acc["accounted_ms"], acc["update_ms"]))
    return update, late["total_ms"]


def show_paced_medians(paced, limit, blocks):
    """Each program's median update, excess and net excess (less the printer's lateness of the same
    run) over its paced runs, (update, lateness) pairs, and each as a ratio to the floor's."""
    floor_excess = (med([u for u, _ in paced["floor"]]) - limit) * 1000
    floor_net = med([(u - limit) * 1000 - late for u, late in paced["floor"]])
    for n, v in paced.items():
        update = med([u for u, _ in v])
        excess = (update - limit) * 1000
        net = med([(u - limit) * 1000 - late for u, late in v])
        print("  %-8s %.3f s = %.4f x the limit; excess %.1f ms = %.3f ms/block, / floor's %.1f ms = %.2f; "
              "net %.1f ms, / floor's net %.1f ms = %.2f"
              % (n, update, update / limit, excess, excess / blocks, floor_excess,
                 excess / floor_excess if floor_excess > 0 else float("nan"), net, floor_net,
                 net / floor_net if floor_net > 0 else float("nan")))
