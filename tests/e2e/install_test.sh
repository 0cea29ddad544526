#!/usr/bin/env bash
# The installed folder runs from anywhere and keeps its settings beside the executable; the
# portable archive holds the same folder.
set -euo pipefail
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cmake --install "$build" --prefix "$work/Korvani Folder" >/dev/null
dir="$work/Korvani Folder"
for f in korvani korvani.svg register-desktop-entry register-user-service share/applications/korvani.desktop \
    share/korvani.service.in README.md; do
    [ -e "$dir/$f" ] || { echo "missing after install: $f"; exit 1; }
done
# The package's layout stays out of the folder.
for f in bin share/icons share/metainfo share/man lib; do
    [ ! -e "$dir/$f" ] || { echo "the folder holds the package's $f"; exit 1; }
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

# The user unit names the folder; a relative XDG_CONFIG_HOME is no place for it.
HOME="$work/home" XDG_CONFIG_HOME=relative "$dir/register-user-service" >/dev/null
unit="$work/home/.config/systemd/user/korvani.service"
grep -qx "ExecStart=\"$dir/korvani\"" "$unit" || { echo "the unit does not start the folder's program"; cat "$unit"; exit 1; }
grep -qx "Environment=QT_QPA_PLATFORM=offscreen" "$unit"
if command -v systemd-analyze >/dev/null; then
    mkdir -p "$work/runtime"
    out=$(XDG_RUNTIME_DIR="$work/runtime" systemd-analyze --user verify --man=no "$unit" 2>&1) || {
        echo "systemd-analyze verify: $out"; exit 1; }
    [ -z "$out" ] || { echo "systemd-analyze verify: $out"; exit 1; }
fi

(cd "$build" && cpack -G TGZ -B "$work/pack" >/dev/null)
archive=$(ls "$work"/pack/korvani-*.tar.gz)
listing=$(tar -tzf "$archive")
for f in korvani korvani.svg register-desktop-entry register-user-service share/korvani.desktop.in \
    share/korvani.service.in; do
    grep -qx "korvani-[^/]*/$f" <<<"$listing" || { echo "archive lacks $f"; exit 1; }
done
if grep -q '/bin/\|/share/icons/\|systemd/user' <<<"$listing"; then echo "the archive holds the package's layout"; exit 1; fi
echo "install, run from anywhere, desktop entry, user unit and archive: ok"
