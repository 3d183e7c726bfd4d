#!/usr/bin/env python3
"""Prints a simulated server with the given number of sessions."""
import json
import sys

STATES = ["Active", "Disconnected", "Active", "Connected", "Listen"]
count = int(sys.argv[1])
sessions = [
    {"id": i, "station": f"RDP-Tcp#{i}", "state": STATES[i % 5],
     "user": f"user{i}", "domain": "CORP"}
    for i in range(count)
]
json.dump({"own_session": 1, "sessions": sessions}, sys.stdout)
