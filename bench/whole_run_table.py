#!/usr/bin/env python3
"""Prints hyperfine's results as a table of ratios to the floor."""
import json
import sys

results = {r["command"]: r for r in json.load(open(sys.argv[1]))["results"]}
floor = results["floor"]["mean"]
loop_floor = results["100 x floor"]["mean"]
print(f"| run | mean (ms) | ± (ms) | x floor | x without /LOGFILE |")
print("|---|---|---|---|---|")
for name, result in results.items():
    mean = result["mean"]
    base = loop_floor if name.startswith("100 x") else floor
    plain = results.get(name.replace("/LOGFILE ", ""))
    without = f"{mean / plain['mean']:.2f}" if "/LOGFILE" in name and plain else ""
    print(f"| {name} | {mean * 1000:.2f} | {result['stddev'] * 1000:.2f} | "
          f"{mean / base:.2f} | {without} |")
