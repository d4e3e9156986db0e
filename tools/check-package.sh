#!/usr/bin/env bash
# Checks a Debian package of the program: its control fields, that it unpacks (dpkg -x into a
# scratch root) to the files an installed program needs, that the menu entry and the AppStream
# metainfo validate, and that the unpacked program keeps its data in the user's folders.
# Usage: tools/check-package.sh PACKAGE.deb [BUILD_DIR]   (BUILD_DIR: where the programs were built)
set -euo pipefail
deb=$1
build=${2:-}
id=example.pelnavi.Pelnavi
root=$(mktemp -d)
pid=
cleanup() {
  [ -n "$pid" ] && kill "$pid" 2>/dev/null || true
  rm -rf "$root"
}
trap cleanup EXIT
failures=0
fail() {
  echo "package check: $*" >&2
  failures=$((failures + 1))
}

field() { dpkg-deb -f "$deb" "$1"; }
depends=$(field Depends)
for needed in p7zip-full libqt6widgets6 libqt6core6 libjpeg62-turbo libssl3 libc6; do
  [[ ",$depends," =~ [,\ ]$needed[\ ,] ]] || fail "Depends lacks $needed: $depends"
done
[[ ",$depends," =~ [,\ ]"fonts-wqy-microhei | fonts-noto-cjk"[\ ,] ]] || fail "Depends lacks a Chinese font: $depends"
[[ "$(field Recommends)" =~ (^|[,\ ])ca-certificates([,\ ]|$) ]] || fail "Recommends lacks ca-certificates: $(field Recommends)"
[ "$(field Package)" = pelnavi ] || fail "package name: $(field Package)"
version=$(field Version)
[[ "$version" =~ ^[0-9]+(\.[0-9]+)+$ ]] || fail "version: $version"
[ "$(field Section)" = video ] || fail "section: $(field Section)"
[[ "$(field Maintainer)" =~ \<.+@.+\> ]] || fail "maintainer without an address: $(field Maintainer)"
[ "$(field Description | wc -l)" -ge 2 ] || fail "description without a long text"

dpkg -x "$deb" "$root"
usr=$root/usr
programs=(pelnavi)
[ -n "$build" ] && [ -x "$build/bin/pelnavi-xmltv" ] && programs+=(pelnavi-xmltv)
expected=(
  "${programs[@]/#/bin/}"
  share/applications/$id.desktop
  share/metainfo/$id.metainfo.xml
  share/icons/hicolor/scalable/apps/$id.svg
)
for size in 16 24 32 48 64 128; do
  expected+=("share/icons/hicolor/${size}x${size}/apps/$id.png")
done
for file in "${expected[@]}"; do
  [ -f "$usr/$file" ] || fail "missing /usr/$file"
done
for program in "${programs[@]}"; do
  [ -x "$usr/bin/$program" ] || fail "/usr/bin/$program is not executable"
  if ldd "$usr/bin/$program" | grep -q "not found"; then
    fail "/usr/bin/$program needs libraries that are not there: $(ldd "$usr/bin/$program" | grep 'not found')"
  fi
done
unexpected=$(cd "$root" && find . -type f | sed 's|^\./usr/||' | sort | comm -23 - <(printf '%s\n' "${expected[@]}" | sort))
[ -z "$unexpected" ] || fail "files nobody asked for: $unexpected"

# Every icon is as large as the folder it lies in says.
for size in 16 24 32 48 64 128; do
  png=$usr/share/icons/hicolor/${size}x${size}/apps/$id.png
  [ -f "$png" ] || continue
  actual=$(python3 -c 'import struct,sys; d=open(sys.argv[1],"rb").read(24); print("%dx%d" % struct.unpack(">II", d[16:24]))' "$png")
  [ "$actual" = "${size}x${size}" ] || fail "icon in ${size}x${size} is $actual"
done

desktop-file-validate "$usr/share/applications/$id.desktop" || fail "the menu entry does not validate"
grep -qx "Icon=$id" "$usr/share/applications/$id.desktop" || fail "the menu entry names another icon"
# One version everywhere: the package's, the metainfo's latest release, the exporter's own.
grep -q "<release version=\"$version\"" "$usr/share/metainfo/$id.metainfo.xml" ||
  fail "the metainfo has no release $version"
if [ -x "$usr/bin/pelnavi-xmltv" ]; then
  [ "$("$usr/bin/pelnavi-xmltv" --version)" = "pelnavi-xmltv $version" ] ||
    fail "pelnavi-xmltv --version: $("$usr/bin/pelnavi-xmltv" --version)"
fi
appstreamcli validate --no-net "$usr/share/metainfo/$id.metainfo.xml" >/dev/null ||
  fail "the metainfo does not validate: $(appstreamcli validate --no-net "$usr/share/metainfo/$id.metainfo.xml")"

# The packaged program is built for installation: even where it could write beside itself (the
# scratch root), its data goes to the user's data folder and nothing to the working directory.
home=$root/home
mkdir -p "$home/work" "$home/run" "$home/Desktop"
chmod 700 "$home/run"
(
  cd "$home/work"
  exec env -u PELNAVI_PACKAGE_URL QT_QPA_PLATFORM=offscreen HOME="$home" XDG_RUNTIME_DIR="$home/run" \
    XDG_DATA_HOME="$home/data" XDG_CACHE_HOME="$home/cache" XDG_CONFIG_HOME="$home/config" \
    "$usr/bin/pelnavi" >"$home/output" 2>&1
) &
pid=$!
for _ in $(seq 1 400); do
  [ -d "$home/data/Pelnavi/ZORQListTemp" ] && break
  sleep 0.05
done
sleep 1 # the rest of start-up: the catalogue scan and what a plain start writes
kill "$pid" 2>/dev/null || true
wait "$pid" 2>/dev/null || true
pid=
[ -d "$home/data/Pelnavi/ZORQListTemp" ] || fail "the packaged program made no data folder in XDG_DATA_HOME: $(cat "$home/output")"
[ ! -e "$usr/bin/ZORQListTemp" ] || fail "the packaged program made its data folder beside itself"
[ -z "$(ls -A "$home/work")" ] || fail "the packaged program wrote into its working directory: $(ls -A "$home/work")"
[ -z "$(ls -A "$home/Desktop")" ] || fail "the packaged program put a shortcut on the desktop"

if [ "$failures" -ne 0 ]; then
  echo "package check: $failures failure(s) in $deb" >&2
  exit 1
fi
echo "package check: $deb is good"
