# Shared steps of the set-up scripts: packages, the two builds, the private
# Wine prefix and registration. Source it; it expects QB_ROOT to be set.

QB_BUILD="${QB_BUILD:-$QB_ROOT/build}"
QB_NATIVE="$QB_BUILD/native"
QB_WIN32="$QB_BUILD/win32"
export WINEPREFIX="$QB_WIN32/wineprefix"
export WINEARCH=win32
export WINEDEBUG=-all

qb_log() { printf '== %s\n' "$*" >&2; }

# Installs whatever of the packages is missing (Debian 12, as root).
qb_install_packages() {
  local wanted=(wine wine32:i386 wine64 libwine-dev g++-mingw-w64-i686 g++-mingw-w64-x86-64 mingw-w64-tools
    fonts-wine nasm libz-mingw-w64-dev cmake g++ make libgtest-dev libgmock-dev
    libbenchmark-dev libstb-dev libjpeg62-turbo-dev libpng-dev libdeflate-dev libwebp-dev libtiff-dev liblcms2-dev libheif-dev patch meson ninja-build
    libimage-exiftool-perl libjpeg-turbo-progs webp libtiff-tools libheif-examples xvfb xauth fonts-wqy-microhei python3 imagemagick clang libclang-rt-14-dev icc-profiles-free)
  local missing=() p
  for p in "${wanted[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  qb_log "installing ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo=sudo
  $sudo dpkg --add-architecture i386
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

qb_build_native() {
  qb_log "native build"
  cmake -S "$QB_ROOT" -B "$QB_NATIVE" -DCMAKE_BUILD_TYPE=Release >/dev/null &&
    cmake --build "$QB_NATIVE" -j"$(nproc)"
}

# The tarballs of the codecs (libjpeg-turbo, libpng, libdeflate, libwebp, libtiff,
# Little CMS, dav1d, libde265, libheif) that the win32 build cross-compiles
# once per build tree. Fetched here, before the configure,
# which itself never downloads; this step is also the one that adds the
# Debian source entries it needs to the machine's package sources.
QB_CODEC_SOURCES="${QB_CODEC_SOURCES:-$QB_WIN32/codecs/download}"
qb_fetch_codec_sources() {
  qb_log "codec sources"
  bash "$QB_ROOT/tools/fetch-codec-sources.sh" "$QB_CODEC_SOURCES"
}

qb_build_win32() {
  qb_log "win32 build"
  cmake -S "$QB_ROOT" -B "$QB_WIN32" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$QB_ROOT/cmake/toolchain-i686-mingw.cmake" \
    -DQB_CODEC_SOURCES_DIR="$QB_CODEC_SOURCES" >/dev/null &&
    cmake --build "$QB_WIN32" -j"$(nproc)" "$@"
}

# The private prefix of this build tree, with Wine's fonts installed so that
# named faces resolve to themselves.
qb_make_prefix() {
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    qb_log "creating Wine prefix $WINEPREFIX"
    mkdir -p "$WINEPREFIX"
    wineboot -i >/dev/null 2>&1
    wineserver -w
  fi
  local fonts="$WINEPREFIX/drive_c/windows/Fonts"
  mkdir -p "$fonts"
  cp -n /usr/share/wine/fonts/* "$fonts/" 2>/dev/null || true
}

# The 64-bit prefix of the build tree, where 64-bit programs get the
# classes through the surrogate. Debian's wine64 package puts no wine64 on
# the PATH: its loader is /usr/lib/wine/wine64. (The wine command starts
# 64-bit programs too, but a program that both kinds of Windows have, such
# as cscript, then runs as its 32-bit self.)
QB_WIN64_PREFIX="$QB_BUILD/win64/wineprefix"
QB_WINE64="$(command -v wine64 2>/dev/null || echo /usr/lib/wine/wine64)"

# Switches this shell to the 64-bit prefix, made on first use.
qb_use_win64_prefix() {
  export WINEPREFIX="$QB_WIN64_PREFIX" WINEARCH=win64
  qb_make_prefix
}

qb_stop_prefix() {
  wineserver -k 2>/dev/null || true
  wineserver -w 2>/dev/null || true
}

# Windows path of an absolute Linux path: Wine maps / onto drive Z:.
qb_winpath() { local p="$1"; printf 'Z:%s\n' "${p//\//\\}"; }

# A VBScript or JScript test of tests/scripts (an absolute path) as cscript
# runs it: its language's harness (harness.vbs or harness.js there) and the
# test, one after the other in one file under build/scripts. Prints that
# file's Windows path:
#   wine cscript //nologo "$(qb_script_job "$QB_ROOT/tests/scripts/road.vbs")" PHOTO
qb_script_job() {
  local test="$1" job="$QB_BUILD/scripts/${1#"$QB_ROOT/tests/scripts/"}"
  mkdir -p "${job%/*}" &&
    cat "$QB_ROOT/tests/scripts/harness.${test##*.}" "$test" >"$job" &&
    qb_winpath "$job"
}

# Registers the type library and the server as a Windows user would, with
# the install script beside the binaries.
qb_install_into_prefix() {
  qb_log "installing Quillbox into the prefix"
  (cd "$QB_WIN32" && wine cmd /c install.cmd) || return 1
  qb_register_ado_typelib
  wineserver -w
}

# ADODB.Stream for scripts, as web pages hand uploads to Quillbox. Wine's
# msado15 serves its objects' IDispatch from type library version 1.0 of
# its library id, but the library it carries (and registers) is 2.8, so
# every late-bound call fails with TYPE_E_LIBNOTREGISTERED. The same IDL,
# which Wine ships, built as version 1.0 and registered, makes them work.
qb_register_ado_typelib() {
  local idl=/usr/include/wine/wine/windows/msado15_backcompat.idl tlb="$QB_WIN32/adodb-1.0.tlb"
  [ -f "$idl" ] && [ -f "$QB_WIN32/regtlb.exe" ] || return 0
  if [ ! -f "$tlb" ]; then
    sed 's/^    version(2\.8)$/    version(1.0)/' "$idl" >"$QB_WIN32/adodb-1.0.idl" &&
      i686-w64-mingw32-widl --win32 -I/usr/include/wine/wine/windows -L/usr/lib/i386-linux-gnu/wine/i386-windows \
        -t -o "$tlb" "$QB_WIN32/adodb-1.0.idl" 2>/dev/null || return 0
  fi
  wine "$QB_WIN32/regtlb.exe" /s "$(qb_winpath "$tlb")" || true
}

# Real camera files: the JPEGs of Debian's BSD-licensed package
# golang-github-rwcarlsen-goexif-dev, unpacked into the build tree (the
# package is downloaded, not installed). sample1.jpg is a whole photo.
QB_SAMPLES="$QB_BUILD/samples"
QB_GOEXIF="$QB_SAMPLES/usr/share/gocode/src/github.com/rwcarlsen/goexif/exif"
qb_fetch_samples() {
  [ -f "$QB_GOEXIF/sample1.jpg" ] && return 0
  qb_log "fetching sample photos"
  mkdir -p "$QB_SAMPLES/download"
  (cd "$QB_SAMPLES/download" && apt-get download golang-github-rwcarlsen-goexif-dev >/dev/null 2>&1) ||
    { apt-get update -qq && (cd "$QB_SAMPLES/download" && apt-get download golang-github-rwcarlsen-goexif-dev >/dev/null 2>&1); }
  dpkg -x "$QB_SAMPLES"/download/golang-github-rwcarlsen-goexif-dev_*.deb "$QB_SAMPLES" &&
    [ -f "$QB_GOEXIF/sample1.jpg" ]
}
