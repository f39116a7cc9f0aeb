#!/usr/bin/env bash
# The command line's start-up as a whole process: each command run N times (median wall and CPU
# time), next to the same searches through the sqlite3 shell on a plaintext FTS5 table of the
# same texts (prefix indexes, same limit). The library is LibraryBench's generated one at 20,000
# frames (built once, about ten minutes, kept in ${VISTREL_BENCH_CACHE:-~/.cache/vistrel-bench}).
#
#   bench/cli-startup.sh [BUILD_DIR]     default build-bench (Release); VISTREL_BENCH_RUNS=N;
#                                        VISTREL_CLI=PATH times another vistrel-cli (an older build)
#
# Run it on an otherwise quiet machine.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh
vistrel_install_packages

build=${1:-build-bench}
frames=20000
runs=${VISTREL_BENCH_RUNS:-21}
cache=${VISTREL_BENCH_CACHE:-$HOME/.cache/vistrel-bench}

if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVISTREL_BUILD_BENCH=ON >/dev/null
fi
cmake --build "$build" -j"${VISTREL_JOBS:-2}" --target LibraryBench vistrel-cli vistrel-cli-record

# Builds the library when it is missing; the size benchmark itself takes a moment.
VISTREL_BENCH_FRAMES=$frames "$build/bench/LibraryBench" --benchmark_filter=BM_Size >/dev/null 2>&1

exec python3 - "${VISTREL_CLI:-$build/Vistrel/vistrel-cli}" "$cache/library-$((frames / 1000))k" "$runs" <<'PYTHON'
import os, resource, sqlite3, statistics, subprocess, sys, tempfile, time

cli, folder, runs = sys.argv[1], sys.argv[2], int(sys.argv[3])
library = os.path.join(folder, "library")
baseline = os.path.join(folder, "baseline.sqlite")

# LibraryBench's fixed master key.
key = tempfile.NamedTemporaryFile(delete=False)
key.write(bytes((0x42 + 7 * i) & 0xFF for i in range(32)))
key.close()
os.chmod(key.name, 0o600)

# A rare word of the generated texts: on a few dozen to a few hundred frames, seven letters or
# more, so that it is not the prefix of many others.
with sqlite3.connect(baseline) as db:
    db.execute("CREATE VIRTUAL TABLE temp.vocabulary USING fts5vocab(main, docs_text, row)")
    rare = db.execute(
        "SELECT term FROM vocabulary WHERE doc BETWEEN 40 AND 300 AND length(term) >= 7 "
        "AND term GLOB '[a-z]*' ORDER BY doc, term LIMIT 1").fetchone()[0]

def measure(command):
    walls, cpus = [], []
    for _ in range(runs):
        before = resource.getrusage(resource.RUSAGE_CHILDREN)
        start = time.perf_counter()
        done = subprocess.run(command, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        walls.append(time.perf_counter() - start)
        after = resource.getrusage(resource.RUSAGE_CHILDREN)
        cpus.append(after.ru_utime - before.ru_utime + after.ru_stime - before.ru_stime)
        if done.returncode != 0:
            sys.exit(f"{command} failed: {done.stderr.decode(errors='replace')}")
    return statistics.median(walls) * 1000, statistics.median(cpus) * 1000

def plain(match):
    return ["sqlite3", baseline,
            "SELECT d.id, t.body FROM docs_text t JOIN docs d ON d.id = t.rowid "
            f"WHERE docs_text MATCH '{match}' ORDER BY d.ts DESC LIMIT 150;"]

base = [cli, "--data-dir", library, "--key-file", key.name]
rows = [("--help", [cli, "--help"], None), ("stats", base + ["stats"], None)]
for label, query, match in [(f"search {rare} (rare word)", [rare], f'"{rare}"*'),
                            ("search open settings", ["open", "settings"], '"open"* AND "settings"*'),
                            ('search "please review"', ['"please review"'], '"please review"*')]:
    rows.append((label, base + ["search"] + query, plain(match)))

print(f"vistrel-cli start-up, {runs} runs each, median wall / CPU in ms (library {os.path.basename(folder)})")
print(f"{'command':40} {'wall':>8} {'cpu':>8}   {'sqlite3 wall':>12} {'ratio':>6}")
for label, command, baseline_command in rows:
    wall, cpu = measure(command)
    line = f"{label:40} {wall:8.1f} {cpu:8.1f}"
    if baseline_command:
        plain_wall, _ = measure(baseline_command)
        line += f"   {plain_wall:12.1f} {wall / plain_wall:6.1f}x"
    print(line)
os.unlink(key.name)
PYTHON
