#!/usr/bin/env bash
# Installs the build into a temporary prefix and checks what a packager checks: exactly the
# expected files, a desktop entry and AppStream metadata that validate, and a command line that
# runs from the installed paths (finding its recording program in libexec).
set -euo pipefail
build=$1
expected=$2
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT

cmake --install "$build" --prefix "$prefix" >/dev/null
diff -u "$expected" <(cd "$prefix" && find . -type f -o -type l | sed 's|^\./||' | LC_ALL=C sort)

# Debian 12's validator predates version 1.5 of the desktop entry format, which added
# SingleMainWindow; every other message still fails the test.
messages=$(desktop-file-validate "$prefix/share/applications/com.tevrin77.Vistrel.desktop" |
  grep -v 'key "SingleMainWindow" in group "Desktop Entry", but keys extending the format' || true)
if [ -n "$messages" ]; then
  echo "$messages"
  exit 1
fi
appstreamcli validate --no-net "$prefix/share/metainfo/com.tevrin77.Vistrel.metainfo.xml"

"$prefix/bin/vistrel-cli" --help | grep -q '^Usage: vistrel-cli'
# A recording command must reach vistrel-cli-record in libexec: its own usage error proves it
# ran there (exit 2), where a missing program would be a failure (exit 1).
status=0
"$prefix/bin/vistrel-cli" --data-dir "$prefix/data" ingest --no-such-option 2>/dev/null || status=$?
[ "$status" -eq 2 ]
MANPAGER=cat man -l "$prefix/share/man/man1/vistrel-cli.1.gz" | grep -q 'delete-everything'
echo "installed and validated: $(wc -l <"$expected") files"
