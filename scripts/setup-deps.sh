#!/usr/bin/env bash
# Installs what Tessaly needs on Debian 12: the build tools and Qt 6, and
# with --tests also the peers the integration tests start: Dovecot (POP3),
# aiosmtpd (SMTP sink, run by tests/tools/smtp_sink.py with /usr/bin/python3),
# openssl (the test certificate of the HTTPS server), and for the packaging
# tests dpkg-dev (dpkg-shlibdeps), file, systemd (systemd-analyze verify) and
# lintian,
# and clang-format for the layout check.
set -euo pipefail
want_tests=0
[[ "${1:-}" == "--tests" ]] && want_tests=1

packages=(cmake ninja-build g++ pkg-config qt6-base-dev libqt6serialport6-dev qt6-multimedia-dev
          libgl-dev)
if (( want_tests )); then
    packages+=(dovecot-pop3d dovecot-imapd python3-aiosmtpd python3 socat openssl dpkg-dev file systemd lintian clang-format dbus)
fi

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if (( ${#missing[@]} )); then
    SUDO=""
    [[ $(id -u) -ne 0 ]] && SUDO="sudo"
    $SUDO apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
