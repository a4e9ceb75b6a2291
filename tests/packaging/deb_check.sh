#!/usr/bin/env bash
# Builds the Debian package with CPack and checks what it holds: the program,
# the two libraries with their sonames, the shipped files, desktop entry,
# man page and systemd user units, and dependencies computed from the
# libraries it links plus ca-certificates; no headers or unversioned library
# links; lintian finds no error in it (with lintian installed).
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
         /usr/share/man/man1/tessly.1.gz /usr/share/doc/tessaly/copyright \
         /usr/share/doc/tessaly/changelog.gz /usr/lib/systemd/user/tessaly.service \
         /usr/lib/systemd/user/tessaly-check.service /usr/lib/systemd/user/tessaly-check.timer; do
    grep -qx -- "$f" "$work/contents" || { cat "$work/contents"; fail "not in the package: $f"; }
done
[[ $(dpkg-deb -f "$deb" Package) == tessaly ]] || fail "package name"
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
for dep in ca-certificates libqt6core6 libqt6network6 libqt6widgets6 libqt6serialport6 libc6; do
    [[ $depends == *"$dep"* ]] || fail "dependency $dep not computed"
done
# The unit files in the package name the program where the package puts it.
mkdir "$work/x" && dpkg-deb -x "$deb" "$work/x"
grep -qx 'ExecStart=/usr/bin/tessly --headless' "$work/x/usr/lib/systemd/user/tessaly.service" ||
    fail "tessaly.service in the package does not start /usr/bin/tessly"
! grep -E '^/usr/include/|^/usr/lib/lib[a-z]+\.so$' "$work/contents" ||
    fail "headers or unversioned library links in the runtime package"
grep -qx 'activate-noawait ldconfig' <(dpkg-deb -I "$deb" triggers) || fail "no ldconfig trigger"

# The user units order after nothing only the system manager provides.
if grep -l 'network-online.target' "$work/x/usr/lib/systemd/user/"*; then
    fail "a user unit names network-online.target, which no user unit provides"
fi

if command -v lintian >/dev/null; then
    lintian --no-tag-display-limit "$deb" >"$work/lintian.txt" 2>&1 || true
    cat "$work/lintian.txt"
    ! grep -q '^E: ' "$work/lintian.txt" || fail "lintian reports errors"
else
    echo "lintian is not installed (scripts/setup-deps.sh --tests): package not checked by lintian"
fi
