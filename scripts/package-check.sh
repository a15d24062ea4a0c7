#!/usr/bin/env bash
# Builds the Debian package from a built tree and checks it as a user's system sees
# it: the desktop entry and the metadata validate, the package has its files and no
# lintian error, it unpacks into a scratch root where both executables run, and the
# manual pages render without a warning.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
app_id=org.quillberry.Quillberry

fail() {
  echo "package-check: $*" >&2
  exit 1
}

# Validators that pass with hints or infos still say something: any word fails.
out=$(desktop-file-validate "res/linux/$app_id.desktop" 2>&1) || fail "desktop entry: $out"
[ -z "$out" ] || fail "desktop entry: $out"
appstreamcli validate --no-net "res/linux/$app_id.metainfo.xml" >/dev/null ||
  fail "metainfo: $(appstreamcli validate --no-net "res/linux/$app_id.metainfo.xml" 2>&1)"

rm -f "$build"/quillberry_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls "$build"/quillberry_*.deb)

contents=$(dpkg-deb -c "$deb" | awk '{print $6}')
for path in ./usr/bin/quillberry ./usr/bin/quillberry-cli \
  "./usr/share/applications/$app_id.desktop" "./usr/share/metainfo/$app_id.metainfo.xml" \
  "./usr/share/icons/hicolor/scalable/apps/$app_id.svg" \
  ./usr/share/man/man1/quillberry.1.gz ./usr/share/man/man1/quillberry-cli.1.gz \
  ./usr/share/quillberry/QuillberryHelp.html ./usr/share/doc/quillberry/copyright \
  ./usr/share/doc/quillberry/changelog.gz ./usr/lib/systemd/user/quillberry-serve.service \
  ./usr/lib/systemd/user/quillberry-refresh.service ./usr/lib/systemd/user/quillberry-refresh.timer; do
  grep -qx -- "$path" <<<"$contents" || fail "$deb lacks $path"
done
for size in 16 22 24 32 48 64 128 256; do
  grep -qx -- "./usr/share/icons/hicolor/${size}x${size}/apps/$app_id.png" <<<"$contents" ||
    fail "$deb lacks the ${size}x${size} icon"
done
dpkg-deb -f "$deb" Depends | grep -q 'libqt6widgets6' || fail "the dependencies were not computed"
# libcurl is loaded at run time, so the computed dependencies cannot see it.
dpkg-deb -f "$deb" Depends | grep -Eq '(^|, )libcurl4( |,|$)' || fail "the package does not depend on libcurl4"
# The control API's metrics link prometheus-cpp's core; the computed dependencies name it.
dpkg-deb -f "$deb" Depends | grep -q 'libprometheus-cpp-core1.0' ||
  fail "the package does not depend on libprometheus-cpp-core1.0"

lintian --fail-on error "$deb" ||
  fail "lintian reported an error"

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
dpkg-deb -x "$deb" "$scratch"
version=$(sed -n 's/^project(Quillberry VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
for program in quillberry quillberry-cli; do
  got=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$scratch/usr/bin/$program" --version)
  [ "$got" = "$program $version" ] || fail "$program --version said: $got"
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l "$scratch/usr/share/man/man1/$program.1.gz" 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "$program(1): $warnings"
done
desktop-file-validate "$scratch/usr/share/applications/$app_id.desktop" || fail "installed desktop entry"
if command -v systemd-analyze >/dev/null; then
  # The user units, against the unpacked program, by a user manager of its own (the
  # manual page is not installed here); any word fails, as for the desktop entry. A
  # timer is verified with the service it starts.
  mkdir -p "$scratch/run" "$scratch/units"
  for unit in quillberry-serve.service quillberry-refresh.service quillberry-refresh.timer; do
    sed "s|/usr/bin/quillberry-cli|$scratch/usr/bin/quillberry-cli|" \
      "$scratch/usr/lib/systemd/user/$unit" >"$scratch/units/$unit"
  done
  for units in quillberry-serve.service "quillberry-refresh.service quillberry-refresh.timer"; do
    paths=()
    for unit in $units; do paths+=("$scratch/units/$unit"); done
    out=$(XDG_RUNTIME_DIR="$scratch/run" systemd-analyze --user --man=no verify "${paths[@]}" 2>&1) ||
      fail "user units $units: $out"
    [ -z "$out" ] || fail "user units $units: $out"
  done
fi
echo "package-check: $(basename "$deb") ($(du -k "$deb" | cut -f1) KiB) passes"
