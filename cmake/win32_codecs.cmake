# The codecs of the win32 build: libjpeg-turbo (with its SIMD code), libpng,
# libdeflate, libwebp, libtiff and Little CMS, cross-compiled as static i686 libraries
# from the upstream tarballs of Debian's own source packages, and offered as
# the imported targets JPEG::JPEG, PNG::PNG, Deflate::Deflate, WebP::webp, WebP::webpdemux,
# TIFF::TIFF and LCMS2::LCMS2; and libheif.dll and libde265.dll (with dav1d
# inside), which Rastrum.dll loads at run time (see below). Each gets the
# patches of its Debian revision (security fixes among them) when its
# Debian tarball lies beside the upstream one.
#
# The libraries are built at configure time, once per build tree: a stamp
# beside each installation records the recipe it was built with, and a later
# configure with the same recipe leaves it alone. Everything lives under
# ${CMAKE_BINARY_DIR}/codecs (src/, build/, i686/ the installation, logs/).
#
# The configure never downloads: the tarballs are fetched beforehand by
# tools/fetch-codec-sources.sh (tools/main.sh and tools/test.sh run it) into
# QB_CODEC_SOURCES_DIR, and are needed only while a library still has to be
# built.
#
# zlib is the static mingw-w64 one (Debian's libz-mingw-w64-dev).

set(QB_CODECS_DIR ${CMAKE_BINARY_DIR}/codecs)
set(QB_CODECS_PREFIX ${QB_CODECS_DIR}/i686)
set(QB_CODEC_SOURCES_DIR ${QB_CODECS_DIR}/download CACHE PATH
  "Folder holding the tarballs of libjpeg-turbo, libpng1.6, libdeflate, libwebp, tiff, lcms2, dav1d, libde265 and libheif (filled by tools/fetch-codec-sources.sh)")

find_library(QB_CODECS_ZLIB_LIBRARY NAMES libz.a DOC "static zlib for i686 Windows")
find_path(QB_CODECS_ZLIB_INCLUDE_DIR zlib.h DOC "zlib headers for i686 Windows")
if(NOT QB_CODECS_ZLIB_LIBRARY OR NOT QB_CODECS_ZLIB_INCLUDE_DIR)
  message(FATAL_ERROR "no static mingw-w64 zlib (libz.a, zlib.h) under ${CMAKE_FIND_ROOT_PATH}: "
    "install libz-mingw-w64-dev, or set QB_CODECS_ZLIB_LIBRARY and QB_CODECS_ZLIB_INCLUDE_DIR")
endif()
find_program(QB_PATCH patch DOC "applies the Debian patches of the codecs")
if(NOT QB_PATCH)
  message(FATAL_ERROR "patch not found (the codecs' Debian patches need it): install patch, or set QB_PATCH")
endif()
find_program(QB_NASM nasm DOC "assembler for libjpeg-turbo's SIMD code")
if(NOT QB_NASM)
  message(FATAL_ERROR "nasm not found (libjpeg-turbo's SIMD code needs it): install nasm, or set QB_NASM")
endif()

if(CMAKE_TOOLCHAIN_FILE)
  get_filename_component(_qb_codecs_toolchain ${CMAKE_TOOLCHAIN_FILE} ABSOLUTE
    BASE_DIR ${CMAKE_BINARY_DIR})
else()
  set(_qb_codecs_toolchain ${CMAKE_SOURCE_DIR}/cmake/toolchain-i686-mingw.cmake)
endif()
file(MAKE_DIRECTORY ${QB_CODECS_DIR}/logs)
cmake_host_system_information(RESULT _qb_codecs_jobs QUERY NUMBER_OF_LOGICAL_CORES)

# The same floating-point code generation as the rest of the build.
set(_qb_codecs_cflags "-msse2 -mfpmath=sse -ffp-contract=off")

set(_qb_codecs_common_args
  -G ${CMAKE_GENERATOR}
  -DCMAKE_TOOLCHAIN_FILE=${_qb_codecs_toolchain}
  -DCMAKE_BUILD_TYPE=Release
  -DCMAKE_INSTALL_PREFIX=${QB_CODECS_PREFIX}
  -DCMAKE_INSTALL_LIBDIR=${QB_CODECS_PREFIX}/lib
  -DCMAKE_INSTALL_INCLUDEDIR=${QB_CODECS_PREFIX}/include
  "-DCMAKE_C_FLAGS=${_qb_codecs_cflags}")

# Runs one step of a codec build inside the codecs folder (relative paths
# of the libraries' own scripts resolve there, never in the source tree),
# its output kept in logs/NAME-STEP.log; stops the configure with the
# log's tail when the step fails.
function(_qb_codecs_run NAME STEP)
  set(_log ${QB_CODECS_DIR}/logs/${NAME}-${STEP}.log)
  execute_process(COMMAND ${ARGN} WORKING_DIRECTORY ${QB_CODECS_DIR}
    RESULT_VARIABLE _rc OUTPUT_FILE ${_log} ERROR_FILE ${_log}.err)
  if(NOT _rc EQUAL 0)
    file(READ ${_log}.err _err)
    string(LENGTH "${_err}" _n)
    if(_n GREATER 3000)
      math(EXPR _from "${_n} - 3000")
      string(SUBSTRING "${_err}" ${_from} -1 _err)
    endif()
    message(FATAL_ERROR "${NAME}: ${STEP} failed (${_rc}); see ${_log} and ${_log}.err\n${_err}")
  endif()
endfunction()

# Applies the patches of debian/patches/series under DEBIAN (an unpacked
# Debian tarball) to the sources in TOP, in series order.
function(_qb_codecs_patch NAME TOP DEBIAN)
  set(_series ${DEBIAN}/debian/patches/series)
  if(NOT EXISTS ${_series})
    return()
  endif()
  file(STRINGS ${_series} _lines)
  foreach(_line ${_lines})
    string(REGEX REPLACE "#.*$" "" _line "${_line}")
    string(STRIP "${_line}" _line)
    if(_line STREQUAL "")
      continue()
    endif()
    separate_arguments(_words UNIX_COMMAND "${_line}")
    list(POP_FRONT _words _patch)
    set(_options -p1)
    if(_words)
      set(_options ${_words})
    endif()
    get_filename_component(_label ${_patch} NAME_WE)
    _qb_codecs_run(${NAME} patch-${_label} ${QB_PATCH} -d ${TOP} ${_options} --forward --batch
      -i ${DEBIAN}/debian/patches/${_patch})
  endforeach()
endfunction()

# Builds and installs the package whose upstream tarball is
# QB_CODEC_SOURCES_DIR/PACKAGE_*.orig.tar.*, configured with the common and
# the given arguments, unless the stamp says that this recipe is already
# installed.
# OUTPUT is the library file the build must leave. DEBIAN_PATCHES applies
# the patches of the package's Debian tarball when there is one; CMAKELISTS
# is a CMakeLists.txt of ours that builds a package that has none; PATCH
# is a patch of ours (-p1), applied after Debian's; MESON
# builds a package whose build is Meson's, the arguments then being Meson's.
function(_qb_codecs_build NAME PACKAGE OUTPUT)
  cmake_parse_arguments(PARSE_ARGV 3 _opt "DEBIAN_PATCHES;MESON" "CMAKELISTS;PATCH" "")
  set(_args ${_opt_UNPARSED_ARGUMENTS})
  set(_debian "")
  if(_opt_DEBIAN_PATCHES)
    file(GLOB _debian ${QB_CODEC_SOURCES_DIR}/${PACKAGE}_*.debian.tar.*)
    list(LENGTH _debian _count)
    if(_count GREATER 1)
      list(SORT _debian COMPARE NATURAL ORDER DESCENDING)
      list(GET _debian 0 _debian)
    endif()
  endif()
  set(_own "")
  if(_opt_CMAKELISTS)
    file(SHA256 ${_opt_CMAKELISTS} _own)
  endif()
  if(_opt_PATCH)
    file(SHA256 ${_opt_PATCH} _hash)
    string(APPEND _own ";${_hash}")
  endif()
  set(_stamp ${QB_CODECS_DIR}/${NAME}.stamp)
  set(_recipe "${PACKAGE};${_qb_codecs_toolchain};${_qb_codecs_common_args};${_args}")
  if(_opt_MESON)
    file(READ ${_qb_codecs_meson_cross} _cross)
    string(APPEND _recipe ";meson;${_cross}")
  endif()
  if(_debian OR _own)
    string(APPEND _recipe ";${_debian};${_own}")
  endif()
  if(EXISTS ${_stamp} AND EXISTS ${OUTPUT})
    file(READ ${_stamp} _built)
    if(_built STREQUAL _recipe)
      return()
    endif()
  endif()

  file(GLOB _tarball ${QB_CODEC_SOURCES_DIR}/${PACKAGE}_*.orig.tar.*)
  list(FILTER _tarball EXCLUDE REGEX "\\.asc$")
  list(LENGTH _tarball _count)
  if(_count EQUAL 0)
    message(FATAL_ERROR "${NAME} has to be built, but there is no upstream tarball of "
      "${PACKAGE} in ${QB_CODEC_SOURCES_DIR}. Fetch the codec sources first:\n"
      "  bash ${CMAKE_SOURCE_DIR}/tools/fetch-codec-sources.sh ${QB_CODEC_SOURCES_DIR}\n"
      "(tools/main.sh and tools/test.sh do this before they configure).")
  elseif(NOT _count EQUAL 1)
    message(FATAL_ERROR "expected one upstream tarball of ${PACKAGE}, found: ${_tarball}")
  endif()
  message(STATUS "Building ${NAME} for i686 from ${_tarball} ${_debian} (once per build tree)")

  set(_src ${QB_CODECS_DIR}/src/${NAME})
  set(_build ${QB_CODECS_DIR}/build/${NAME})
  file(REMOVE ${_stamp})
  file(REMOVE_RECURSE ${_src} ${_build} ${QB_CODECS_DIR}/src/${NAME}-debian)
  file(MAKE_DIRECTORY ${_src} ${_build})
  execute_process(COMMAND ${CMAKE_COMMAND} -E tar xf ${_tarball} WORKING_DIRECTORY ${_src}
    RESULT_VARIABLE _rc)
  file(GLOB _top LIST_DIRECTORIES true ${_src}/*)
  list(LENGTH _top _count)
  if(NOT _rc EQUAL 0 OR NOT _count EQUAL 1 OR NOT IS_DIRECTORY ${_top})
    message(FATAL_ERROR "could not unpack ${_tarball} into ${_src}")
  endif()
  if(_debian)
    set(_unpacked ${QB_CODECS_DIR}/src/${NAME}-debian)
    file(MAKE_DIRECTORY ${_unpacked})
    execute_process(COMMAND ${CMAKE_COMMAND} -E tar xf ${_debian} WORKING_DIRECTORY ${_unpacked}
      RESULT_VARIABLE _rc)
    if(NOT _rc EQUAL 0)
      message(FATAL_ERROR "could not unpack ${_debian} into ${_unpacked}")
    endif()
    _qb_codecs_patch(${NAME} ${_top} ${_unpacked})
  endif()
  if(_opt_PATCH)
    get_filename_component(_label ${_opt_PATCH} NAME_WE)
    _qb_codecs_run(${NAME} patch-${_label} ${QB_PATCH} -d ${_top} -p1 --forward --batch -i ${_opt_PATCH})
  endif()
  if(_opt_CMAKELISTS)
    configure_file(${_opt_CMAKELISTS} ${_top}/CMakeLists.txt COPYONLY)
  endif()

  if(_opt_MESON)
    _qb_codecs_run(${NAME} configure ${QB_MESON} setup ${_build} ${_top}
      --cross-file ${_qb_codecs_meson_cross} --buildtype=release --default-library=static
      --prefix=${QB_CODECS_PREFIX} --libdir=lib --includedir=include ${_args})
    _qb_codecs_run(${NAME} build ${QB_NINJA} -C ${_build} -j ${_qb_codecs_jobs})
    _qb_codecs_run(${NAME} install ${QB_NINJA} -C ${_build} install)
  else()
    _qb_codecs_run(${NAME} configure ${CMAKE_COMMAND} -S ${_top} -B ${_build}
      ${_qb_codecs_common_args} ${_args})
    _qb_codecs_run(${NAME} build ${CMAKE_COMMAND} --build ${_build} --parallel ${_qb_codecs_jobs})
    _qb_codecs_run(${NAME} install ${CMAKE_COMMAND} --install ${_build})
  endif()
  if(NOT EXISTS ${OUTPUT})
    message(FATAL_ERROR "${NAME}: the build did not leave ${OUTPUT}")
  endif()
  file(WRITE ${_stamp} "${_recipe}")
endfunction()

set(QB_JPEG_LIBRARY ${QB_CODECS_PREFIX}/lib/libjpeg.a)
set(QB_PNG_LIBRARY ${QB_CODECS_PREFIX}/lib/libpng16.a)

# The libjpeg v6b interface (as Debian's libjpeg62-turbo), in-memory source
# and destination included; REQUIRE_SIMD makes a missing nasm an error
# instead of a silently slow library.
_qb_codecs_build(libjpeg-turbo libjpeg-turbo ${QB_JPEG_LIBRARY} DEBIAN_PATCHES
  -DENABLE_SHARED=OFF -DENABLE_STATIC=ON -DWITH_TURBOJPEG=OFF
  -DWITH_SIMD=ON -DREQUIRE_SIMD=ON -DCMAKE_ASM_NASM_COMPILER=${QB_NASM})

_qb_codecs_build(libpng libpng1.6 ${QB_PNG_LIBRARY} DEBIAN_PATCHES
  -DPNG_SHARED=OFF -DPNG_STATIC=ON -DPNG_TESTS=OFF -DPNG_EXECUTABLES=OFF
  -DZLIB_LIBRARY=${QB_CODECS_ZLIB_LIBRARY} -DZLIB_INCLUDE_DIR=${QB_CODECS_ZLIB_INCLUDE_DIR})

# libdeflate (the PNG encoder's compressor) 1.14 has no CMake build of its
# own: ours compiles its sources.
set(QB_DEFLATE_LIBRARY ${QB_CODECS_PREFIX}/lib/libdeflate.a)
_qb_codecs_build(libdeflate libdeflate ${QB_DEFLATE_LIBRARY} DEBIAN_PATCHES
  CMAKELISTS ${CMAKE_SOURCE_DIR}/cmake/codecs/libdeflate-CMakeLists.txt)

set(QB_WEBP_LIBRARY ${QB_CODECS_PREFIX}/lib/libwebp.a)
set(QB_WEBPDEMUX_LIBRARY ${QB_CODECS_PREFIX}/lib/libwebpdemux.a)
set(QB_TIFF_LIBRARY ${QB_CODECS_PREFIX}/lib/libtiff.a)
set(QB_LCMS2_LIBRARY ${QB_CODECS_PREFIX}/lib/liblcms2.a)

# The libraries only (the decoder and encoder, and the demuxer for animated
# files), with their SIMD code chosen at run time, and the decoder's thread
# (Windows threads) that filters and outputs rows while the next are decoded.
# A patch of ours gives the lossless decoder such a thread too: it applies
# the inverse transforms and outputs rows while the next are decoded.
_qb_codecs_build(libwebp libwebp ${QB_WEBPDEMUX_LIBRARY} DEBIAN_PATCHES
  PATCH ${CMAKE_SOURCE_DIR}/cmake/codecs/libwebp-lossless-rows-thread.patch
  -DBUILD_SHARED_LIBS=OFF -DWEBP_USE_THREAD=ON -DWEBP_BUILD_ANIM_UTILS=OFF -DWEBP_BUILD_CWEBP=OFF
  -DWEBP_BUILD_DWEBP=OFF -DWEBP_BUILD_GIF2WEBP=OFF -DWEBP_BUILD_IMG2WEBP=OFF -DWEBP_BUILD_VWEBP=OFF
  -DWEBP_BUILD_WEBPINFO=OFF -DWEBP_BUILD_LIBWEBPMUX=OFF -DWEBP_BUILD_WEBPMUX=OFF -DWEBP_BUILD_EXTRAS=OFF)

# libtiff with Deflate through libdeflate (zlib for what it cannot do),
# JPEG through the libjpeg-turbo above,
# and its own LZW, PackBits and CCITT; every other optional library and the
# rarely seen codecs (old-style JPEG, ThunderScan, NeXT, LogLuv, Pixar log,
# MDI) left out. No tools, tests, documentation or C++ streams.
_qb_codecs_build(libtiff tiff ${QB_TIFF_LIBRARY} DEBIAN_PATCHES
  -DBUILD_SHARED_LIBS=OFF -Dcxx=OFF -Dtiff-tools=OFF -Dtiff-tests=OFF -Dtiff-contrib=OFF -Dtiff-docs=OFF
  -Dzlib=ON -DZLIB_LIBRARY=${QB_CODECS_ZLIB_LIBRARY} -DZLIB_INCLUDE_DIR=${QB_CODECS_ZLIB_INCLUDE_DIR}
  -Djpeg=ON -DJPEG_LIBRARY=${QB_JPEG_LIBRARY} -DJPEG_INCLUDE_DIR=${QB_CODECS_PREFIX}/include
  -Dlibdeflate=ON -DDeflate_INCLUDE_DIR=${QB_CODECS_PREFIX}/include -DDeflate_LIBRARY=${QB_DEFLATE_LIBRARY}
  -Dold-jpeg=OFF -Djpeg12=OFF -Djbig=OFF -Dlerc=OFF -Dlzma=OFF -Dzstd=OFF -Dwebp=OFF
  -Dpixarlog=OFF -Dthunder=OFF -Dnext=OFF -Dlogluv=OFF -Dmdi=OFF -Dtiff-opengl=OFF)

# Little CMS 2.14 has no CMake build of its own: ours compiles its sources.
_qb_codecs_build(lcms2 lcms2 ${QB_LCMS2_LIBRARY} DEBIAN_PATCHES
  CMAKELISTS ${CMAKE_SOURCE_DIR}/cmake/codecs/lcms2-CMakeLists.txt)

# HEIC and AVIF: libheif with libde265 (HEVC) and dav1d (AV1). libheif and
# libde265 are LGPL, so they are DLLs of their own (libheif.dll,
# libde265.dll) that ship beside Rastrum.dll, where a user can replace them;
# Rastrum never links them but loads libheif.dll by full path on its first
# HEIC or AVIF file (rastrum/heif_loader_win32.cpp). dav1d (BSD) is linked
# statically into libheif.dll. Decoders only: no encoders, examples, tools,
# plug-in loading or gdk-pixbuf loader. Their C++ gets the SSE arithmetic
# of the C code (x87's excess precision would round libheif's colour
# conversion differently from Debian's x86-64 build). Each DLL carries its
# C and C++ runtime (no libstdc++ or winpthread DLLs beside it);
# libheif.dll does not export dav1d's functions.
find_program(QB_MESON meson DOC "Meson, for dav1d's build")
find_program(QB_NINJA ninja DOC "Ninja, for dav1d's build")
if(NOT QB_MESON OR NOT QB_NINJA)
  message(FATAL_ERROR "meson or ninja not found (dav1d's build needs them): install meson and ninja-build")
endif()
set(_qb_codecs_meson_cross ${QB_CODECS_DIR}/meson-i686-mingw.txt)
file(WRITE ${_qb_codecs_meson_cross}.new "[binaries]
c = 'i686-w64-mingw32-gcc-posix'
ar = 'i686-w64-mingw32-ar'
strip = 'i686-w64-mingw32-strip'
windres = 'i686-w64-mingw32-windres'
nasm = '${QB_NASM}'
pkgconfig = 'false'

[built-in options]
c_args = ['-msse2', '-mfpmath=sse', '-ffp-contract=off']

[host_machine]
system = 'windows'
cpu_family = 'x86'
cpu = 'i686'
endian = 'little'
")
# Rewritten only when it changes, so that the stamp's recipe stays the same.
configure_file(${_qb_codecs_meson_cross}.new ${_qb_codecs_meson_cross} COPYONLY)

set(QB_DAV1D_LIBRARY ${QB_CODECS_PREFIX}/lib/libdav1d.a)
set(QB_DE265_DLL ${QB_CODECS_PREFIX}/bin/libde265.dll)
set(QB_HEIF_DLL ${QB_CODECS_PREFIX}/bin/libheif.dll)
# mingw's linker exports every global symbol of a DLL without dllexport
# markings, those of the static archives too: the runtime's (winpthread,
# libgcc, libstdc++) would clash in the DLLs that link against it.
set(_qb_codecs_dll_flags "-static -static-libgcc -static-libstdc++ -s \
-Wl,--exclude-libs,libpthread.a:libwinpthread.a:libgcc.a:libgcc_eh.a:libstdc++.a")

# 8-bit and high bit depth (10- and 12-bit AVIF), with its SIMD code.
_qb_codecs_build(dav1d dav1d ${QB_DAV1D_LIBRARY} DEBIAN_PATCHES MESON
  -Dbitdepths=8,16 -Denable_asm=true -Denable_tools=false -Denable_examples=false
  -Denable_tests=false -Denable_docs=false -Dlogging=false)

# libde265 marks nothing for export on mingw: our .def file gives it the
# exports of Debian's build (the decoder interface of de265.h; its hash
# in the recipe rebuilds the DLL when it changes).
set(_qb_de265_def ${CMAKE_SOURCE_DIR}/cmake/codecs/libde265.def)
file(SHA256 ${_qb_de265_def} _qb_de265_def_hash)
# Its locks on Windows made slim (SRW locks and condition variables, which
# wait in the process instead of in the kernel): the decoder takes a lock
# for every task it hands its worker.
_qb_codecs_build(libde265 libde265 ${QB_DE265_DLL} DEBIAN_PATCHES
  PATCH ${CMAKE_SOURCE_DIR}/cmake/codecs/libde265-slim-locks.patch
  -DBUILD_SHARED_LIBS=ON -DENABLE_SDL=OFF -DENABLE_DECODER=OFF -DENABLE_ENCODER=OFF
  "-DCMAKE_CXX_FLAGS=${_qb_codecs_cflags}"
  "-DCMAKE_SHARED_LINKER_FLAGS=${_qb_codecs_dll_flags} ${_qb_de265_def}"
  -DQB_EXPORTS_HASH=${_qb_de265_def_hash})

# pkg-config sees only the libraries above, never the build machine's.
set(ENV{PKG_CONFIG_LIBDIR} ${QB_CODECS_PREFIX}/lib/pkgconfig)
_qb_codecs_build(libheif libheif ${QB_HEIF_DLL} DEBIAN_PATCHES
  -DBUILD_SHARED_LIBS=ON -DWITH_EXAMPLES=OFF -DENABLE_PLUGIN_LOADING=OFF
  "-DCMAKE_CXX_FLAGS=${_qb_codecs_cflags}"
  -DWITH_LIBDE265=ON -DWITH_DAV1D=ON -DWITH_X265=OFF -DWITH_AOM_DECODER=OFF -DWITH_AOM_ENCODER=OFF
  -DWITH_RAV1E=OFF -DWITH_SvtEnc=OFF -DWITH_DEFLATE_HEADER_COMPRESSION=OFF
  -DLIBDE265_INCLUDE_DIR=${QB_CODECS_PREFIX}/include
  -DLIBDE265_LIBRARY=${QB_CODECS_PREFIX}/lib/libde265.dll.a
  -DDAV1D_INCLUDE_DIR=${QB_CODECS_PREFIX}/include -DDAV1D_LIBRARY=${QB_DAV1D_LIBRARY}
  "-DCMAKE_SHARED_LINKER_FLAGS=${_qb_codecs_dll_flags}:libdav1d.a")
unset(ENV{PKG_CONFIG_LIBDIR})
# The headers only: Rastrum compiles against heif.h and resolves the
# functions at run time.
set(QB_HEIF_INCLUDE_DIR ${QB_CODECS_PREFIX}/include)

add_library(JPEG::JPEG STATIC IMPORTED GLOBAL)
set_target_properties(JPEG::JPEG PROPERTIES
  IMPORTED_LOCATION ${QB_JPEG_LIBRARY}
  INTERFACE_INCLUDE_DIRECTORIES ${QB_CODECS_PREFIX}/include)

add_library(PNG::PNG STATIC IMPORTED GLOBAL)
set_target_properties(PNG::PNG PROPERTIES
  IMPORTED_LOCATION ${QB_PNG_LIBRARY}
  INTERFACE_INCLUDE_DIRECTORIES ${QB_CODECS_PREFIX}/include
  INTERFACE_LINK_LIBRARIES ${QB_CODECS_ZLIB_LIBRARY})

add_library(Deflate::Deflate STATIC IMPORTED GLOBAL)
set_target_properties(Deflate::Deflate PROPERTIES
  IMPORTED_LOCATION ${QB_DEFLATE_LIBRARY}
  INTERFACE_INCLUDE_DIRECTORIES ${QB_CODECS_PREFIX}/include)

add_library(WebP::webp STATIC IMPORTED GLOBAL)
set_target_properties(WebP::webp PROPERTIES
  IMPORTED_LOCATION ${QB_WEBP_LIBRARY}
  INTERFACE_INCLUDE_DIRECTORIES ${QB_CODECS_PREFIX}/include)

add_library(WebP::webpdemux STATIC IMPORTED GLOBAL)
set_target_properties(WebP::webpdemux PROPERTIES
  IMPORTED_LOCATION ${QB_WEBPDEMUX_LIBRARY}
  INTERFACE_INCLUDE_DIRECTORIES ${QB_CODECS_PREFIX}/include
  INTERFACE_LINK_LIBRARIES WebP::webp)

add_library(TIFF::TIFF STATIC IMPORTED GLOBAL)
set_target_properties(TIFF::TIFF PROPERTIES
  IMPORTED_LOCATION ${QB_TIFF_LIBRARY}
  INTERFACE_INCLUDE_DIRECTORIES ${QB_CODECS_PREFIX}/include
  INTERFACE_LINK_LIBRARIES "JPEG::JPEG;${QB_DEFLATE_LIBRARY};${QB_CODECS_ZLIB_LIBRARY}")

add_library(LCMS2::LCMS2 STATIC IMPORTED GLOBAL)
set_target_properties(LCMS2::LCMS2 PROPERTIES
  IMPORTED_LOCATION ${QB_LCMS2_LIBRARY}
  INTERFACE_INCLUDE_DIRECTORIES ${QB_CODECS_PREFIX}/include
  INTERFACE_COMPILE_DEFINITIONS CMS_NO_REGISTER_KEYWORD=1)
