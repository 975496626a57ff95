#!/usr/bin/env bash
# Builds the Debian package from the release preset (build-release/) and
# checks it as a distribution would:
#   - lintian: any error or warning fails (info tags are printed, not fatal);
#   - appstreamcli validate --no-net --strict on the installed metainfo, and
#     every launchable and binary it names is in the package;
#   - desktop-file-validate on every installed .desktop file (warnings fail too).
# Usage: scripts/package-check.sh [--no-build]   (--no-build: check the .deb already in build-release/)
set -euo pipefail
cd "$(dirname "$0")/.."
build="build-release"

if [ "${1:-}" != --no-build ]; then
  scripts/deps.sh package
  cmake --preset release >/dev/null
  cmake --build --preset release -j"$(nproc)"
  rm -f "$build"/*.deb
  out=$(cd "$build" && cpack -G DEB 2>&1) || { printf '%s\n' "$out" >&2; exit 1; }
fi
debs=("$build"/*.deb)
[ -f "${debs[0]}" ] && [ ${#debs[@]} -eq 1 ] || { echo "expected one package in $build/, found: ${debs[*]}" >&2; exit 1; }
deb=${debs[0]}
echo "== $deb"
dpkg-deb -f "$deb" Package Version Depends

fail=0
echo "== lintian"
# Lintian's only complaint as root is about running as root: drop that line.
set +e
lintian --display-info --fail-on error,warning "$deb" 2>&1 | grep -v 'running with root privileges'
[ "${PIPESTATUS[0]}" -eq 0 ] || { echo "lintian: errors or warnings" >&2; fail=1; }
set -e

tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT
dpkg-deb -x "$deb" "$tree"

echo "== appstreamcli validate"
shopt -s nullglob
metainfo=("$tree"/usr/share/metainfo/*.xml)
[ ${#metainfo[@]} -gt 0 ] || { echo "no AppStream metadata in the package" >&2; fail=1; }
for m in "${metainfo[@]}"; do
  appstreamcli validate --no-net --strict "$m" || fail=1
  for d in $(sed -n 's:.*<launchable type="desktop-id">\(.*\)</launchable>.*:\1:p' "$m"); do
    [ -f "$tree/usr/share/applications/$d" ] || { echo "$(basename "$m"): launchable $d is not in the package" >&2; fail=1; }
  done
  for b in $(sed -n 's:.*<binary>\(.*\)</binary>.*:\1:p' "$m"); do
    [ -x "$tree/usr/bin/$b" ] || { echo "$(basename "$m"): binary $b is not in the package" >&2; fail=1; }
  done
done

echo "== desktop-file-validate"
desktops=("$tree"/usr/share/applications/*.desktop)
[ ${#desktops[@]} -gt 0 ] || { echo "no desktop entries in the package" >&2; fail=1; }
for d in "${desktops[@]}"; do
  # Warnings (printed, exit status 0) fail the check too.
  if msg=$(desktop-file-validate "$d" 2>&1) && [ -z "$msg" ]; then
    echo "$(basename "$d"): OK"
  else
    printf '%s\n' "$msg" >&2; fail=1
  fi
done

[ $fail -eq 0 ] && echo "Package check passed." || echo "Package check FAILED." >&2
exit $fail
