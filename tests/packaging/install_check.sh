#!/usr/bin/env bash
# Installs the build into a temporary DESTDIR and checks the installed tree:
# the files are where the GNU directories put them, the installed program
# runs with its own libraries, copies the shipped files from its own data
# folder, delivers pages (scripts/demo.sh against the installed program),
# and the systemd units pass `systemd-analyze verify` where it exists.
#   install_check.sh BUILD_DIR SOURCE_DIR PREFIX BINDIR LIBDIR DATADIR MANDIR
set -euo pipefail
if [[ -n ${TESSALY_SKIP_PACKAGING:-} ]]; then
    echo "skipped: $TESSALY_SKIP_PACKAGING"
    exit 77
fi
build=$1 source=$2 prefix=$3 bindir=$4 libdir=$5 datadir=$6 mandir=$7

work=$(mktemp -d /tmp/tessaly-install.XXXXXX)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

DESTDIR=$work/root cmake --install "$build" >"$work/install.log" || { cat "$work/install.log"; fail "cmake --install"; }
top=$work/root$prefix

for f in "$bindir/tessly" "$libdir/libwebwire.so.1" "$libdir/libnovaprobe.so.1" \
         "$datadir/tessaly/DEFAULT.dat" "$datadir/tessaly/NewMail.wav" "$datadir/tessaly/manual/index.html" \
         "$datadir/applications/tessaly.desktop" "$datadir/icons/hicolor/scalable/apps/tessaly.svg" \
         "$datadir/doc/tessaly/tessaly-autostart.desktop" "$mandir/man1/tessly.1.gz" \
         lib/systemd/user/tessaly.service lib/systemd/user/tessaly-check.service \
         lib/systemd/user/tessaly-check.timer include/webwire/chttp.h include/novaprobe/cwebversion.h; do
    [[ -e $top/$f ]] || fail "not installed: $prefix/$f"
done
tessly=$top/$bindir/tessly

# The libraries it loads are the installed ones, wherever the tree lies.
ldd "$tessly" >"$work/ldd"
for lib in libwebwire.so.1 libnovaprobe.so.1; do
    grep -q "$lib => $work/root" "$work/ldd" || { cat "$work/ldd"; fail "$lib not loaded from the installed tree"; }
done
"$tessly" --version | grep -q '^tessly ' || fail "installed tessly --version"

# A file only the installed data folder has reaches the program directory.
echo '<p>installed copy</p>' >"$top/$datadir/tessaly/manual/installed-marker.html"
home=$work/home
TESSALY_HOME=$home XDG_CONFIG_HOME=$work/config "$tessly" --show-profile >"$work/profile.txt" ||
    fail "installed tessly --show-profile"
for f in DEFAULT.dat NewMail.wav manual/index.html manual/installed-marker.html; do
    [[ -f $home/$f ]] || fail "shipped file not copied from $prefix/$datadir/tessaly: $f"
done
grep -q '^pager.1.username = user1$' "$work/profile.txt" || fail "the shipped profile was not loaded"

# The units name the installed program; verify copies that point into DESTDIR.
units=$top/lib/systemd/user
grep -qx "ExecStart=$prefix/$bindir/tessly --headless" "$units/tessaly.service" || fail "tessaly.service ExecStart"
grep -qx "ExecStart=$prefix/$bindir/tessly --check" "$units/tessaly-check.service" || fail "tessaly-check.service ExecStart"
if command -v systemd-analyze >/dev/null; then
    mkdir "$work/units"
    for u in tessaly.service tessaly-check.service tessaly-check.timer; do
        sed "s|^ExecStart=$prefix/|ExecStart=$top/|" "$units/$u" >"$work/units/$u"
    done
    # As user units, for which a user manager needs its runtime folder.
    mkdir -m 700 "$work/runtime"
    (cd "$work/units" && XDG_RUNTIME_DIR=$work/runtime systemd-analyze verify --user --man=no \
        tessaly.service tessaly-check.service tessaly-check.timer) ||
        fail "systemd-analyze verify"
else
    echo "systemd-analyze not found: unit files not verified"
fi

# Pages go out from the installed program.
TESSLY=$tessly "$source/scripts/demo.sh"
