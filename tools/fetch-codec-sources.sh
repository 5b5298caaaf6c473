#!/bin/bash
# Fetches the upstream tarballs of Debian's libjpeg-turbo, libpng1.6,
# libdeflate, libwebp, tiff, lcms2, libde265, libheif and dav1d source packages into
# DIR, for the Windows build to cross-compile.
#
#   fetch-codec-sources.sh DIR
#
# A set-up step (qb_fetch_codec_sources in tools/lib.sh), run before the
# win32 configure, which reads the tarballs from its QB_CODEC_SOURCES_DIR
# and never downloads; as root, or with sudo for the package sources.
#
# Idempotent: when every tarball is already in DIR it does nothing. The
# source entries are derived from the machine's own Debian entries at run
# time (same archives, same suites, Types: deb-src), so the tarballs are the
# ones of the packages this machine runs. The upstream tarballs
# (*.orig.tar.*) are needed, and for the packages whose Debian patches the
# build applies, a Debian tarball (*.debian.tar.*): the newest revision's,
# or an older one's when the security suite no longer serves it. Other
# Debian parts may fail to download without stopping anything.
set -u

dir="${1:?usage: fetch-codec-sources.sh DIR}"
packages=(libjpeg-turbo libpng1.6 libdeflate libwebp tiff lcms2 libde265 libheif dav1d)
# The packages whose Debian patches the build applies: their Debian tarball
# is wanted too.
patched=(libjpeg-turbo libpng1.6 libdeflate libwebp tiff lcms2 libde265 libheif dav1d)

log() { printf '== %s\n' "$*" >&2; }

have_tarball() { compgen -G "$dir/$1_*.orig.tar.*" >/dev/null; }

wants_debian() { [[ " ${patched[*]} " == *" $1 "* ]]; }

# The upstream tarball, and the Debian one where the build applies its
# patches.
have_sources() {
  have_tarball "$1" || return 1
  wants_debian "$1" || return 0
  compgen -G "$dir/$1_*.debian.tar.*" >/dev/null
}

have_all() {
  local p
  for p in "${packages[@]}"; do have_sources "$p" || return 1; done
}

mkdir -p "$dir" || exit 1
have_all && exit 0

sudo=""
[ "$(id -u)" -ne 0 ] && sudo=sudo

# The source entries: a deb822 copy of debian.sources with every stanza's
# Types set to deb-src, or the one-line entries of sources.list turned into
# deb-src lines.
deb822=/etc/apt/sources.list.d/debian.sources
oneline=/etc/apt/sources.list
if [ -f "$deb822" ]; then
  target=/etc/apt/sources.list.d/quillbox-src.sources
  entries="$(sed -E 's/^Types:.*$/Types: deb-src/' "$deb822")"
elif [ -f "$oneline" ]; then
  target=/etc/apt/sources.list.d/quillbox-src.list
  entries="$(sed -nE 's/^[[:space:]]*deb[[:space:]]+/deb-src /p' "$oneline")"
else
  log "no Debian package sources found (looked for $deb822 and $oneline)"
  exit 1
fi
if [ -z "$entries" ]; then
  log "no usable entries in the Debian package sources"
  exit 1
fi
if [ ! -f "$target" ] || [ "$(cat "$target")" != "$entries" ]; then
  log "writing $target"
  printf '%s\n' "$entries" | $sudo tee "$target" >/dev/null || exit 1
fi

log "apt-get update (source indexes)"
$sudo apt-get update -qq || log "apt-get update reported errors; trying the download anyway"

# apt-get downloads into the current directory, one package at a time. Its
# status is not what decides: the security suite's index can list a Debian
# revision whose .dsc and Debian parts the archive no longer serves (a 404),
# although the upstream tarball, which every revision of a release shares,
# comes. So its output is kept in a log and shown only when the tarball did
# not come.
log "downloading sources of ${packages[*]}"
for p in "${packages[@]}"; do
  have_sources "$p" && continue
  (cd "$dir" && apt-get source --download-only -qq "$p") >"$dir/$p.log" 2>&1
  # Else each revision the source indexes list, newest first (an older
  # revision's Debian tarball still carries the fixes made up to it).
  for v in $(apt-cache showsrc "$p" 2>/dev/null | sed -n 's/^Version: //p' | sort -rV | uniq); do
    have_sources "$p" && break
    (cd "$dir" && apt-get source --download-only -qq "$p=$v") >>"$dir/$p.log" 2>&1
  done
  if ! have_tarball "$p"; then
    log "apt-get source $p did not bring its upstream tarball:"
    sed 's/^/    /' "$dir/$p.log" >&2
  fi
done

status=0
for p in "${packages[@]}"; do
  if have_tarball "$p" && ! have_sources "$p"; then
    log "no Debian tarball of $p in $dir: it is built without Debian's patches"
  fi
  if ! have_tarball "$p"; then
    log "missing upstream tarball of $p in $dir: the set-up cannot build the Windows codecs"
    status=1
  fi
done
exit "$status"
