#!/usr/bin/env bash
# The capture process over a long still stretch: `vistrel --headless` on a private Xvfb + openbox
# whose only window changes its text every CHANGE seconds and is otherwise still. Prints the
# process's average CPU (overall, and over the still stretches alone), its peak and steady
# resident memory, and the frames kept.
#
#   bench/headless-run.sh [DURATION_SECONDS=600] [CHANGE_SECONDS=20]
#
# Uses the binaries of an existing build (VISTREL_BUILD, default build/; scripts/test.sh makes one).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${VISTREL_BUILD:-$root/build}
duration=${1:-600}
change=${2:-20}
vistrel=$build/Vistrel/vistrel
cli=$build/Vistrel/vistrel-cli
for program in "$vistrel" "$cli"; do
  [ -x "$program" ] || { echo "missing $program: build first (scripts/test.sh)" >&2; exit 1; }
done

work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/home" "$work/data"
export HOME=$work/home XDG_CONFIG_HOME=$work/home/config XDG_DATA_HOME=$work/home/data
export VISTREL_DATA_DIR=$work/data DBUS_SESSION_BUS_ADDRESS=unix:path=$work/no-bus
# Nobody types during the run: idle detection would stop it.
echo '{"captureEnabled": true, "stopWhenIdle": false}' > "$work/data/config.json"

# Text-heavy pages, one per change.
pages=$(( duration / change + 1 ))
font=/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf
for ((i = 0; i < pages; i++)); do
  text=""
  for ((line = 0; line < 28; line++)); do
    text+="Page $i line $line: quarterly invoice $((4400 + i * 31 + line)) reviewed by Tevrin for account $((i * 97 + line))\n"
  done
  convert -size 1500x950 xc:white -font "$font" -pointsize 22 -fill black \
    -annotate +30+40 "$(printf "$text")" "$work/page$i.png"
done

exec 3>"$work/display"
Xvfb -displayfd 3 -screen 0 1600x1000x24 -nolisten tcp >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 50); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=:$(head -n1 "$work/display")
openbox >/dev/null 2>&1 &
pids+=($!)
sleep 1

show() {
  display -geometry +0+0 -title Viewer "$work/page$1.png" >/dev/null 2>&1 &
  viewer=$!
}
show 0
sleep 1

"$vistrel" --headless >"$work/status.txt" 2>&1 &
app=$!
pids+=($app)

ticks=$(getconf CLK_TCK)
cpu() { awk '{print $14 + $15}' "/proc/$app/stat"; }
rss() { awk '/^VmRSS/ {print $2}' "/proc/$app/status"; }

start=$(date +%s.%N)
cpuStart=$(cpu)
stillTicks=0
stillSeconds=0
rssSamples=()
for ((i = 1; i * change <= duration; i++)); do
  # A kept frame costs its recognition in the first seconds after a change; the rest is still.
  sleep 8
  before=$(cpu)
  sleep $((change - 8))
  after=$(cpu)
  stillTicks=$((stillTicks + after - before))
  stillSeconds=$((stillSeconds + change - 8))
  rssSamples+=("$(rss)")
  old=$viewer
  show "$i"
  sleep 0.5
  kill "$old" 2>/dev/null || true
done
elapsed=$(awk -v a="$(date +%s.%N)" -v b="$start" 'BEGIN {print a - b}')
cpuTotal=$(( $(cpu) - cpuStart ))
peak=$(awk '/^VmHWM/ {print $2}' "/proc/$app/status")
steady=$(printf '%s\n' "${rssSamples[@]}" | tail -n 5 | sort -n | tail -n 1)
kill -TERM "$app"
wait "$app" || true
kill "$viewer" 2>/dev/null || true

frames=$("$cli" --json stats | sed -n 's/.*"frames": *\([0-9]*\).*/\1/p')
echo "headless run: ${elapsed%.*} s, a change every $change s"
calc() { awk "BEGIN {printf \"%.2f\", $1}"; }
echo "  average CPU overall:        $(calc "100 * $cpuTotal / $ticks / $elapsed") % of one core"
echo "  average CPU while still:    $(calc "100 * $stillTicks / $ticks / $stillSeconds") % of one core"
echo "  CPU per kept frame:         $(calc "($cpuTotal - $stillTicks * $elapsed / $stillSeconds) / $ticks / ${frames:-1}") s (approx.)"
echo "  peak resident memory:       $((peak / 1024)) MB"
echo "  steady resident memory:     $((steady / 1024)) MB (largest of the last samples)"
echo "  frames kept:                ${frames:-unknown} (changes shown: $i)"
