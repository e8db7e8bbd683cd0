"""Prints the program's waits, native against the page, as one table.

wait_table.py PAGE_JSON NATIVE_JSON: the page's window.tarnwickBench
({name: {wanted, mean, longest}}) and the JSON file that tarnwick_bench
writes for BM_ProgramWait (--benchmark_out_format=json). Either may be
"none" when it could not be run.
"""
import json
import sys


def load(text):
    try:
        return json.loads(text)
    except ValueError:
        return None


def main():
    page = load(sys.argv[1]) or {}
    native = {}
    for run in (load(sys.argv[2]) or {}).get("benchmarks", []):
        native[run["label"]] = {"wanted": run["wanted_ms"], "mean": run["real_time"], "longest": run["longest_ms"]}
    print(f"{'wait':24} {'wanted':>7} {'native mean/longest':>20} {'page mean/longest':>20} {'page mean':>10}")
    for name in dict.fromkeys([*page, *native]):
        wanted = (page.get(name) or native[name])["wanted"]
        cells = []
        for side in (native, page):
            figures = side.get(name)
            cells.append(f"{figures['mean']:.1f} / {figures['longest']:.1f}" if figures else "-")
        over = f"{(page[name]['mean'] - wanted) * 100 / wanted:+.1f}%" if name in page else "-"
        print(f"{name:24} {wanted:>7g} {cells[0]:>20} {cells[1]:>20} {over:>10}")


main()
