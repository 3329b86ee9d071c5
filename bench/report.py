#!/usr/bin/env python3
"""Prints the benchmarks' figures beside their goals, as one table.

Usage: report.py RESULTS_DIR, with search.json, capture.json and
program.json written there by Google Benchmark's --benchmark_out.
"""
import json
import sys
from pathlib import Path

UNIT_SECONDS = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}


def load(path):
    """Each benchmark by name: its median over repetitions, else its run."""
    runs = {}
    for entry in json.loads(Path(path).read_text())["benchmarks"]:
        if entry.get("error_occurred"):
            raise SystemExit(f"{entry['name']}: {entry.get('error_message')}")
        name = entry["run_name"]
        if entry.get("run_type") == "aggregate":
            if entry.get("aggregate_name") == "median":
                runs[name] = entry
        elif name not in runs or runs[name].get("run_type") != "aggregate":
            runs[name] = entry
    return runs


def seconds(entry):
    return entry["real_time"] * UNIT_SECONDS[entry["time_unit"]]


def find(runs, prefix):
    matches = [entry for name, entry in runs.items() if name.startswith(prefix)]
    if len(matches) != 1:
        raise SystemExit(f"expected one benchmark named {prefix}*, found {len(matches)}")
    return matches[0]


def main():
    results = Path(sys.argv[1])
    search = load(results / "search.json")
    capture = load(results / "capture.json")
    program = load(results / "program.json")
    rows = []

    def row(figure, measured, goal, met):
        rows.append((figure, measured, goal, "yes" if met else "NO"))

    for match, where in ((1, "wanted one last"), (0, "none matching")):
        for n in (1, 16, 64, 256):
            ours = seconds(find(search, f"BM_FindHidDevice/n:{n}/match:{match}")) * 1e6
            theirs = seconds(find(search, f"BM_HidEnumerate/n:{n}/match:{match}")) * 1e6
            ratio = ours / theirs
            row(f"1. search, N={n}, {where}",
                f"{ours:.1f} us vs hidapi {theirs:.1f} us: {ratio:.3f}", "<= 0.03",
                ratio <= 0.03)

    captured = 200 * 2**20
    run = captured / seconds(find(capture, "BM_RunCommand/")) / 1e6
    pipe = captured / seconds(find(capture, "BM_PipeReadLimit/")) / 1e6
    memory = captured / seconds(find(capture, "BM_FreshMemoryLimit/")) / 1e6
    lower = min(pipe, memory)
    row("2. capture of 200 MiB, throughput",
        f"{run:.0f} MB/s; pipe {pipe:.0f}, fresh memory {memory:.0f}: {run / lower:.2f}",
        ">= 0.8 of the lower limit", run / lower >= 0.8)
    for mebibytes in (200, 100, 150, 300):
        peak = find(capture, f"BM_RunCommandPeakMemory/mebibytes:{mebibytes}/")
        ratio = peak["peak_per_output_byte"]
        label = "2. capture, peak memory" if mebibytes == 200 else "   (other size)"
        row(f"{label}, {mebibytes} MiB", f"{peak['peak_bytes'] / 2**20:.0f} MiB: {ratio:.2f}x",
            "<= 1.35x the output", ratio <= 1.35)

    small = find(program, "BM_ProgramOnInfoText/mebibytes:200/")
    large = find(program, "BM_ProgramOnInfoText/mebibytes:400/")
    for entry, mebibytes in ((small, 200), (large, 400)):
        ratio = entry["peak_per_text_byte"]
        row(f"3. program on a {mebibytes} MiB info text, peak memory",
            f"{entry['peak_bytes'] / 2**20:.0f} MiB: {ratio:.2f}x", "<= 1.5x the text",
            ratio <= 1.5)
    growth = seconds(large) / seconds(small)
    row("3. program, time 400 MiB / 200 MiB",
        f"{seconds(large):.3f} s / {seconds(small):.3f} s: {growth:.2f}", "<= 2.2",
        growth <= 2.2)

    alone_small = seconds(find(program, "BM_StandinOutputAlone/mebibytes:200/"))
    alone_large = seconds(find(program, "BM_StandinOutputAlone/mebibytes:400/"))
    rows.append(("   the stand-in's output alone, through a pipe",
                 f"{alone_large:.3f} s / {alone_small:.3f} s: {alone_large / alone_small:.2f}",
                 "(its share of the time)", "-"))

    no_device = seconds(find(program, "BM_ProgramNoDevice/"))
    row("4. program, no device", f"{no_device:.3f} s", "5.000 s +- 1%",
        abs(no_device - 5.0) <= 0.05)

    widths = [max(len(r[i]) for r in rows + [("figure", "measured", "goal", "met")])
              for i in range(4)]
    def line(cells):
        return "| " + " | ".join(c.ljust(w) for c, w in zip(cells, widths)) + " |"
    print(line(("figure", "measured", "goal", "met")))
    print("|" + "|".join("-" * (w + 2) for w in widths) + "|")
    for r in rows:
        print(line(r))


if __name__ == "__main__":
    main()
