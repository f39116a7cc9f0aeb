#!/usr/bin/env bash
# Renders each pane of the main window on a private Xvfb desktop (the tests' harness) with a small
# sample history, and writes one PNG per pane to docs/screenshots/.
#
# Uses the binaries of an existing build (VISTREL_BUILD, default build/; run.sh or test.sh make one).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${VISTREL_BUILD:-$root/build}
for program in "$build/Vistrel/vistrel" "$build/Vistrel/vistrel-cli"; do
  [ -x "$program" ] || { echo "missing $program: build first" >&2; exit 1; }
done
mkdir -p "$root/docs/screenshots"

VISTREL_BUILD=$build VISTREL_ROOT=$root PYTHONPATH=$root/tests/support/desktop /usr/bin/python3 - <<'PYTHON'
import os
import subprocess
import time

from desktop_session import DesktopSession, wait_for

root = os.environ["VISTREL_ROOT"]
build = os.environ["VISTREL_BUILD"]
panes = [("search", "Search History…"), ("timeline", "Timeline"), ("capture", "Capture Settings…"),
         ("privacy", "Privacy…"), ("storage", "Storage…"), ("help", "How to Use")]

with DesktopSession(os.path.join(build, "Vistrel", "vistrel"),
                    config={"onboardingDone": True}) as session:
    samples = []
    for i, text in enumerate(["Invoice #4471 paid", "Smoked paprika, 2 tsp", "Quarterly report"]):
        path = os.path.join(session.root, "sample-%d.png" % i)
        subprocess.run(["convert", "-size", "1000x300", "xc:white", "-pointsize", "48",
                        "-annotate", "+40+160", text, path], check=True)
        samples.append(path)
    subprocess.run([os.path.join(build, "Vistrel", "vistrel-cli"), "--data-dir", session.data_dir,
                    "--key-file", session.key_file, "ingest", "--app", "Editor", *samples],
                   check=True, stdout=subprocess.DEVNULL, env=session.app_env())
    session.start_app()
    for pane, entry in panes:
        session.click_tray_entry(entry)
        window = wait_for(lambda: session.x_windows(viewable=True), 20, "the window")[0]
        time.sleep(0.5)  # let the pane finish drawing
        target = os.path.join(root, "docs", "screenshots", pane + ".png")
        subprocess.run(["import", "-window", window, target], check=True, env=session.env)
        print("wrote", os.path.relpath(target, root))
PYTHON
