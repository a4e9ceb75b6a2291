#!/usr/bin/env bash
# Builds the Debian package with CPack and checks what it holds: the program,
# the two libraries with their sonames, the shipped files, desktop entry,
# man page and systemd user units, and dependencies computed from the
# libraries it links.
#   deb_check.sh BUILD_DIR
set -euo pipefail
if [[ -n ${TESSALY_SKIP_PACKAGING:-} ]]; then
    echo "skipped: $TESSALY_SKIP_PACKAGING"
    exit 77
fi
build=$1
work=$(mktemp -d /tmp/tessaly-deb.XXXXXX)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
command -v dpkg-deb >/dev/null && command -v dpkg-shlibdeps >/dev/null ||
    { echo "dpkg-dev is not installed (scripts/setup-deps.sh --tests)"; exit 77; }

(cd "$work" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work" >"$work/cpack.log" 2>&1) ||
    { cat "$work/cpack.log"; fail "cpack -G DEB"; }
debs=("$work"/tessaly_*.deb)
[[ ${#debs[@]} -eq 1 && -f ${debs[0]} ]] || fail "no single tessaly_*.deb in $(ls "$work")"
deb=${debs[0]}
echo "built $(basename "$deb")"

dpkg-deb -c "$deb" | awk '{print $6}' | sed 's|^\./|/|' >"$work/contents"
for f in /usr/bin/tessly /usr/lib/libwebwire.so.1 /usr/lib/libnovaprobe.so.1 \
         /usr/share/tessaly/DEFAULT.dat /usr/share/tessaly/NewMail.wav /usr/share/tessaly/manual/index.html \
         /usr/share/applications/tessaly.desktop /usr/share/icons/hicolor/scalable/apps/tessaly.svg \
         /usr/share/man/man1/tessly.1 /usr/lib/systemd/user/tessaly.service \
         /usr/lib/systemd/user/tessaly-check.service /usr/lib/systemd/user/tessaly-check.timer; do
    grep -qx -- "$f" "$work/contents" || { cat "$work/contents"; fail "not in the package: $f"; }
done
[[ $(dpkg-deb -f "$deb" Package) == tessaly ]] || fail "package name"
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
for dep in libqt6core6 libqt6network6 libqt6widgets6 libqt6serialport6 libc6; do
    [[ $depends == *"$dep"* ]] || fail "dependency $dep not computed"
done
# The unit files in the package name the program where the package puts it.
mkdir "$work/x" && dpkg-deb -x "$deb" "$work/x"
grep -qx 'ExecStart=/usr/bin/tessly --headless' "$work/x/usr/lib/systemd/user/tessaly.service" ||
    fail "tessaly.service in the package does not start /usr/bin/tessly"
