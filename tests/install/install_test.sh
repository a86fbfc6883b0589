#!/usr/bin/env bash
# The installed tree: exactly the files a desktop and a developer need, valid
# desktop files, a pkg-config file that works, and programs that still start
# when the tree is moved, keeping their files in the user's XDG folders.
#
#   install_test.sh BUILD_DIR LIBDIR [CLIENT_FLAGS]
set -euo pipefail

build=$1
libdir=$2
client_flags=${3:-}
work=$(mktemp -d "${TMPDIR:-/tmp}/ondalux-install-XXXXXX")
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$work/prefix" >/dev/null

# Exactly these files and links.
expected=$(cat <<LIST
bin/ondalux
bin/sonivex-play
include/sonivex.h
$libdir/libsonivex.so
$libdir/libsonivex.so.1
$libdir/libsonivex.so.1.0
$libdir/pkgconfig/sonivex.pc
share/applications/ondalux.desktop
share/icons/hicolor/128x128/apps/ondalux.png
share/icons/hicolor/16x16/apps/ondalux.png
share/icons/hicolor/256x256/apps/ondalux.png
share/icons/hicolor/32x32/apps/ondalux.png
share/icons/hicolor/48x48/apps/ondalux.png
share/icons/hicolor/64x64/apps/ondalux.png
share/man/man1/ondalux.1
share/man/man1/sonivex-play.1
share/metainfo/ondalux.metainfo.xml
LIST
)
installed=$(cd "$work/prefix" && find . \( -type f -o -type l \) | sed 's|^\./||' | LC_ALL=C sort)
[[ "$installed" == "$(LC_ALL=C sort <<<"$expected")" ]] ||
    fail "installed files differ: $(diff <(LC_ALL=C sort <<<"$expected") <(echo "$installed") || true)"
[[ "$(readlink "$work/prefix/$libdir/libsonivex.so")" == libsonivex.so.1 ]] || fail "the .so link"
for size in 16 32 48 64 128 256; do
    file "$work/prefix/share/icons/hicolor/${size}x${size}/apps/ondalux.png" |
        grep -q "PNG image data, $size x $size" || fail "the ${size}x$size icon"
done

desktop-file-validate "$work/prefix/share/applications/ondalux.desktop" || fail "desktop-file-validate"
appstreamcli validate --no-net "$work/prefix/share/metainfo/ondalux.metainfo.xml" >/dev/null ||
    fail "appstreamcli validate: $(appstreamcli validate --no-net "$work/prefix/share/metainfo/ondalux.metainfo.xml")"
for page in ondalux sonivex-play; do
    warnings=$(LC_ALL=C MANWIDTH=80 man --warnings -l "$work/prefix/share/man/man1/$page.1" 2>&1 >/dev/null)
    [[ -z "$warnings" ]] || fail "man page $page: $warnings"
done

# Moved elsewhere, the tree still works: the programs find the library
# relative to themselves, and so does pkg-config.
mv "$work/prefix" "$work/moved"
prefix="$work/moved"
[[ "$("$prefix/bin/ondalux" --version)" == "Ondalux 1.0" ]] || fail "ondalux --version"
[[ "$("$prefix/bin/sonivex-play" --version)" == "sonivex-play 1.0" ]] || fail "sonivex-play --version"
"$prefix/bin/ondalux" --help | grep -q "^usage: ondalux" || fail "ondalux --help"
export PKG_CONFIG_PATH="$prefix/$libdir/pkgconfig"
[[ "$(pkg-config --modversion sonivex)" == "1.0" ]] || fail "pkg-config version"
cat >"$work/client.c" <<'C'
#include <sonivex.h>
int main(void) { return BASS_GetVersion() != 0 ? 0 : 1; }
C
# shellcheck disable=SC2046,SC2086
cc $client_flags "$work/client.c" -o "$work/client" $(pkg-config --cflags --libs sonivex) \
    -Wl,-rpath,"$(pkg-config --variable=libdir sonivex)" || fail "a client of the library does not build"
"$work/client" || fail "a client of the library does not run"

# The installed program keeps its settings and logs in the user's folders,
# made on demand, and nothing beside itself or in the current folder.
run_program() {  # HOME, then variables to set
    local home=$1
    shift
    mkdir -p "$work/current"
    (
        cd "$work/current"
        unset XDG_CONFIG_HOME XDG_STATE_HOME
        export HOME="$home" QT_QPA_PLATFORM=offscreen SDL_AUDIODRIVER=dummy \
            http_proxy=http://127.0.0.1:9/ no_proxy= "$@"
        exec "$prefix/bin/ondalux" 2>"$work/stderr.txt"
    ) &
    local pid=$!
    # The end signals are caught once the program is up to catch them.
    for _ in $(seq 300); do
        mask=$(awk '/^SigCgt/ {print $2}' "/proc/$pid/status" 2>/dev/null || true)
        [[ -n "$mask" ]] && (( (16#$mask >> 14) & 1 )) && break
        sleep 0.1
    done
    kill -TERM "$pid"
    local status=0
    wait "$pid" || status=$?
    [[ $status -eq 0 ]] || fail "the installed program ended with $status: $(cat "$work/stderr.txt")"
}

run_program "$work/home"
[[ -f "$work/home/.config/ondalux/Ondalux.ini" ]] || fail "no settings in ~/.config/ondalux"
ls "$work/home/.local/state/ondalux/logs/"_*.log >/dev/null 2>&1 || fail "no log in ~/.local/state/ondalux/logs"
[[ "$(stat -c %a "$work/home/.config/ondalux")" == 700 ]] || fail "the settings folder is not the user's alone"
run_program "$work/home2" XDG_CONFIG_HOME="$work/config" XDG_STATE_HOME="$work/state"
[[ -f "$work/config/ondalux/Ondalux.ini" ]] || fail "no settings in \$XDG_CONFIG_HOME/ondalux"
ls "$work/state/ondalux/logs/"_*.log >/dev/null 2>&1 || fail "no log in \$XDG_STATE_HOME/ondalux/logs"
[[ ! -e "$work/home2/.config/ondalux" && ! -e "$work/home2/.local/state/ondalux" ]] ||
    fail "the XDG folders were not used alone"
[[ -z "$(ls -A "$work/current")" ]] || fail "files in the current folder: $(ls -A "$work/current")"
[[ "$(ls "$prefix/bin")" == "$(printf 'ondalux\nsonivex-play')" ]] || fail "files beside the program"
echo "the installed tree is whole and works"
