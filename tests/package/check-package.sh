#!/usr/bin/env bash
# check-package.sh <cmake> <build dir> <version> <app id>
# Builds the package with the build's package target, unpacks it into a
# scratch root and checks its control fields, its exact file list, the
# desktop entry, the metainfo, the icons and the version in the executable,
# then starts the unpacked program on the offscreen platform for a moment.
set -euo pipefail

cmake=$1 build=$2 version=$3 id=$4
arch=$(dpkg --print-architecture)
deb="$build/netvane_${version}_${arch}.deb"

failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
# owner_of <library path>: the package that ships it, under whichever of
# the merged-/usr spellings dpkg recorded.
owner_of() {
  local real candidate
  real=$(readlink -f "$1")
  for candidate in "$1" "/usr$1" "$real" "${real#/usr}"; do
    if dpkg -S "$candidate" >/dev/null 2>&1; then
      dpkg -S "$candidate" | head -n 1 | cut -d: -f1
      return
    fi
  done
}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# A package left from an earlier run must not stand in for this one.
rm -f "$deb"
"$cmake" --build "$build" --target package
[ -f "$deb" ] || { echo "FAIL: $deb was not made" >&2; exit 1; }

# Control fields.
field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = netvane ] || fail "Package is '$(field Package)'"
[ "$(field Version)" = "$version" ] || fail "Version is '$(field Version)', want $version"
[ "$(field Architecture)" = "$arch" ] || fail "Architecture is '$(field Architecture)'"
[ "$(field Section)" = net ] || fail "Section is '$(field Section)'"
[ -n "$(field Maintainer)" ] || fail "no Maintainer"
[ -n "$(field Description)" ] || fail "no Description"
depends=$(field Depends)
echo "Depends: $depends"
# The package names in Depends, alternatives included, versions dropped.
alternatives=${depends//|/,}
depends_names=$(tr ',' '\n' <<<"$alternatives" | sed 's/(.*//; s/[[:space:]]//g; s/:any$//')
depends_on() { grep -Fxq -- "$1" <<<"$depends_names"; }
depends_on libqt6widgets6 || fail "Depends lacks libqt6widgets6"

# Exactly the program and its desktop data; no libraries, tools or tests.
root="$work/root"
dpkg -x "$deb" "$root"
expected=(
  "usr/bin/netvane"
  "usr/share/applications/$id.desktop"
  "usr/share/metainfo/$id.metainfo.xml"
  "usr/share/icons/hicolor/scalable/apps/$id.svg"
)
for size in 16 24 32 48 64 128 256; do
  expected+=("usr/share/icons/hicolor/${size}x${size}/apps/$id.png")
done
actual=$(cd "$root" && find . ! -type d | sed 's|^\./||' | LC_ALL=C sort)
want=$(printf '%s\n' "${expected[@]}" | LC_ALL=C sort)
if [ "$actual" != "$want" ]; then
  fail "file list differs (- expected, + packaged):"
  diff <(echo "$want") <(echo "$actual") >&2 || true
fi

# The program: executable, no search path into the build tree, and the
# version record that the window title shows carries the package version.
exe="$root/usr/bin/netvane"
[ -x "$exe" ] || fail "usr/bin/netvane is not executable"
if readelf -d "$exe" | grep -Eq 'RPATH|RUNPATH'; then
  fail "usr/bin/netvane keeps a library search path: $(readelf -d "$exe" | grep -E 'RPATH|RUNPATH')"
fi
# The record: a 16-byte marker, then major, minor, patch, build as
# little-endian 16-bit numbers.
if objcopy -O binary --only-section=.netvane_version "$exe" "$work/record"; then
  marker=$(head -c 15 "$work/record")
  numbers=$(od -An -tu2 --endian=little -j16 -N8 "$work/record" | xargs | tr ' ' .)
  [ "$marker" = "NETVANE:FILEVER" ] || fail "version record marker is '$marker'"
  [ "$numbers" = "$version" ] || fail "executable carries version '$numbers', package $version"
else
  fail "no version record section in usr/bin/netvane"
fi

# Every shared library that the program needs comes from a package that
# Depends names (the gSOAP run-time once the program links it, Qt, libc).
needed=$(readelf -d "$exe" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
[ -n "$needed" ] || fail "usr/bin/netvane needs no shared library?"
loaded=$(ldd "$exe")
for soname in $needed; do
  path=$(awk -v so="$soname" '$1 == so && $2 == "=>" { print $3; exit }' <<<"$loaded")
  [ -n "$path" ] || { fail "$soname is not installed here"; continue; }
  owner=$(owner_of "$path")
  [ -n "$owner" ] || { fail "no package owns $path ($soname)"; continue; }
  depends_on "$owner" || fail "Depends lacks $owner, which holds $soname"
done

# Desktop entry.
desktop="$root/usr/share/applications/$id.desktop"
desktop-file-validate "$desktop" || fail "desktop-file-validate rejects $id.desktop"
entry() { grep -E "^$1=" "$desktop" | head -n 1 | cut -d= -f2-; }
[ "$(entry Name)" = Netvane ] || fail "desktop Name is '$(entry Name)'"
[ "$(entry Exec)" = netvane ] || fail "desktop Exec is '$(entry Exec)'"
[ "$(entry Icon)" = "$id" ] || fail "desktop Icon is '$(entry Icon)', want $id"
[ -n "$(entry Comment)" ] || fail "desktop entry has no Comment"
[ -n "$(entry 'Comment\[zh_CN\]')" ] || fail "desktop entry has no Comment[zh_CN]"
grep -Eq '^Categories=(.*;)?Network;' "$desktop" || fail "desktop entry is not in Network"

# Metainfo, alone and together with the desktop entry and icons it names.
metainfo="$root/usr/share/metainfo/$id.metainfo.xml"
appstreamcli validate --no-net "$metainfo" || fail "appstreamcli rejects $id.metainfo.xml"
appstreamcli validate-tree --no-net "$root" || fail "appstreamcli rejects the installed tree"
grep -q "<id>$id</id>" "$metainfo" || fail "metainfo id is not $id"
grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" "$metainfo" ||
  fail "metainfo does not launch $id.desktop"
newest=$(sed -n 's/.*<release [^>]*version="\([^"]*\)".*/\1/p' "$metainfo" | head -n 1) || true
[ "$newest" = "$version" ] || fail "newest metainfo release is '$newest', package $version"

# Each PNG is as large as the folder it is in says.
for size in 16 24 32 48 64 128 256; do
  png="$root/usr/share/icons/hicolor/${size}x${size}/apps/$id.png"
  [ -f "$png" ] || continue
  signature=$(od -An -tx1 -N8 "$png" | xargs)
  dims=$(od -An -tu1 -j16 -N8 "$png" | xargs)
  [ "$signature" = "89 50 4e 47 0d 0a 1a 0a" ] || fail "${size}x${size} icon is not a PNG"
  read -r w3 w2 w1 w0 h3 h2 h1 h0 <<<"$dims"
  width=$(((w3 << 24) | (w2 << 16) | (w1 << 8) | w0))
  height=$(((h3 << 24) | (h2 << 16) | (h1 << 8) | h0))
  if [ "$width" != "$size" ] || [ "$height" != "$size" ]; then
    fail "${size}x${size} icon is ${width}x${height}"
  fi
done
svg="$root/usr/share/icons/hicolor/scalable/apps/$id.svg"
grep -q '<svg' "$svg" || fail "scalable icon is not an SVG"

# The unpacked program starts and is still running a moment later (timeout
# then ends it and reports 124). It sends nothing until a button is pressed.
set +e
QT_QPA_PLATFORM=offscreen timeout --kill-after=5 2 "$exe" >"$work/run.log" 2>&1
rc=$?
set -e
if [ "$rc" -ne 124 ]; then
  fail "usr/bin/netvane ended early with status $rc"
  cat "$work/run.log" >&2
fi

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed" >&2
  exit 1
fi
echo "package $(basename "$deb") passed every check"
