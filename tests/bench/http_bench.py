#!/usr/bin/env python3
"""Download throughput of HttpGet against curl for the same URLs, from the
nginx that tests/servers/with_servers.py runs. Prints figures; asserts
nothing."""

import os
import statistics
import subprocess
import sys
import time

www = os.environ["ORVELLA_WWW"]  # Z:\... as Wine sees the served folder
folder = www[2:].replace("\\", "/") if www[1:2] == ":" else www
bench = os.path.join(os.environ.get("ORVELLA_BIN", sys.argv[1]), "http_bench.exe")
sizes = {"bench_1mb.bin": 1 << 20, "bench_100kb.bin": 100 * 1024}
for name, size in sizes.items():
    with open(os.path.join(folder, "files", name), "wb") as f:
        f.write(os.urandom(size))
urls = [f"http://127.0.0.1/files/{name}" for name in sizes]

for url in urls:
    runs = []
    for _ in range(30):
        start = time.perf_counter()
        subprocess.run(["curl", "-s", "-o", "/dev/null", url], check=True)
        runs.append((time.perf_counter() - start) * 1000)
    print(f"curl {url}: median {statistics.median(runs):.3f} ms (a whole curl process per run)")
sys.stdout.flush()
subprocess.run(["wine", bench, *urls], check=True)
