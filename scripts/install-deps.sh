#!/usr/bin/env bash
# Installs every Debian package that building, running and testing Quillberry needs.
# Idempotent: when everything is present it only checks and returns in about a second.
set -euo pipefail

packages=(
  # build
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools libqt6svg6 qt6-qpa-plugins
  # Qt's own buttons and dialogs in the interface's language
  qt6-translations-l10n
  qt6-l10n-tools
  libcurl4-openssl-dev libglib2.0-dev libglib2.0-bin
  # the verification history
  libsqlite3-dev
  # the control API's metrics in the Prometheus text format
  prometheus-cpp-dev
  # locating addresses: MaxMind databases, the system's country database, and the
  # writer the tests make their own small databases with
  libmaxminddb-dev libgeoip-dev geoip-database libmaxmind-db-writer-perl mmdb-bin
  libgtest-dev libgmock-dev libbenchmark-dev
  # the format check of the test command
  clang-format
  # installation: icons made from the drawing, manual pages, the package and its checks
  librsvg2-bin python3 dpkg-dev desktop-file-utils appstream lintian man-db
  # the sanitizer, fuzzing and thread checks of the test command: clang, its
  # sanitizer and libFuzzer runtimes, and the symbolizer that names their frames
  clang libclang-rt-14-dev llvm
  # desktop integration the program reads and writes
  gsettings-desktop-schemas dbus
  # loopback test peers
  tinyproxy dante-server squid microsocks python3 python3-pyftpdlib
  # a proxy that intercepts TLS and, with a script of the tests', changes pages
  mitmproxy openssl
  libproxy-tools libproxy1-plugin-gsettings
  nodejs
  # the user unit of the local endpoint is checked with systemd-analyze
  systemd
  # shards of one verification spread by GNU parallel, also over ssh to the test
  # hosts the shards test makes (its own sshd on its own addresses; the system's
  # service is kept from starting below); parallel copies files with rsync
  parallel openssh-server openssh-client rsync
  # the peers the benchmarks measure against: ripgrep for extraction, aiohttp for
  # verification
  ripgrep python3-aiohttp
  # GNU time: the benchmarks' peak memory of each command (%M)
  time
  # real browsers as clients of the auto-config script and the local endpoint
  chromium firefox-esr
  # fonts so that offscreen renders show the Chinese interface
  fonts-noto-cjk
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
  SUDO=sudo
else
  SUDO=
fi
export DEBIAN_FRONTEND=noninteractive
echo "Installing: ${missing[*]}" >&2
$SUDO apt-get update -qq
# Services from these packages (tinyproxy, squid, danted) must not keep running on the
# system ports: the tests start their own copies on free loopback ports.
$SUDO sh -c 'printf "#!/bin/sh\nexit 101\n" > /usr/sbin/policy-rc.d && chmod +x /usr/sbin/policy-rc.d'
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
$SUDO rm -f /usr/sbin/policy-rc.d
