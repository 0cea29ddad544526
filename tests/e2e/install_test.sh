#!/usr/bin/env bash
# The installed folder runs from anywhere and keeps its settings beside the executable; the
# portable archive holds the same folder.
set -euo pipefail
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cmake --install "$build" --prefix "$work/Korvani Folder" >/dev/null
dir="$work/Korvani Folder"
for f in korvani korvani.svg register-desktop-entry share/applications/korvani.desktop README.md; do
    [ -e "$dir/$f" ] || { echo "missing after install: $f"; exit 1; }
done
grep -qx "Exec=\"$dir/korvani\"" "$dir/share/applications/korvani.desktop" || {
    echo "desktop entry does not name the installed program"; exit 1; }

printf '[KEYWORD]\r\nKEY3=installed\r\n' > "$dir/KVN.ini"
cd /
QT_QPA_PLATFORM=offscreen "$dir/korvani" &
pid=$!
# The handler is in place once the process catches SIGTERM (bit 15 of SigCgt).
for _ in $(seq 300); do
    mask=$(awk '/^SigCgt:/ {print $2}' /proc/$pid/status 2>/dev/null || echo 0)
    (( (0x$mask >> 14) & 1 )) && break
    sleep 0.1
done
sleep 0.5
kill -TERM $pid
for _ in $(seq 50); do kill -0 $pid 2>/dev/null || break; sleep 0.1; done
if kill -0 $pid 2>/dev/null; then echo "the installed program did not end within 5 s"; kill -9 $pid; exit 1; fi
grep -q $'^KEY0=installed\r$' "$dir/KVN.ini" || { echo "lists not saved beside the installed program"; cat "$dir/KVN.ini"; exit 1; }

HOME="$work/home" XDG_DATA_HOME= "$dir/register-desktop-entry" >/dev/null
grep -qx "Exec=\"$dir/korvani\"" "$work/home/.local/share/applications/korvani.desktop"

(cd "$build" && cpack -G TGZ -B "$work/pack" >/dev/null)
archive=$(ls "$work"/pack/korvani-*.tar.gz)
listing=$(tar -tzf "$archive")
for f in korvani korvani.svg register-desktop-entry share/korvani.desktop.in; do
    grep -qx "korvani-[^/]*/$f" <<<"$listing" || { echo "archive lacks $f"; exit 1; }
done
echo "install, run from anywhere, desktop entry and archive: ok"
