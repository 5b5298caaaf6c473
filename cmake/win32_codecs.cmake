# JPEG and PNG codecs for the win32 build: libjpeg-turbo (with its SIMD
# code) and libpng, cross-compiled as static i686 libraries from the upstream
# tarballs of Debian's own source packages, and offered as the imported
# targets JPEG::JPEG and PNG::PNG.
#
# Both libraries are built at configure time, once per build tree: a stamp
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
  "Folder holding the upstream tarballs of libjpeg-turbo and libpng1.6 (filled by tools/fetch-codec-sources.sh)")

find_library(QB_CODECS_ZLIB_LIBRARY NAMES libz.a DOC "static zlib for i686 Windows")
find_path(QB_CODECS_ZLIB_INCLUDE_DIR zlib.h DOC "zlib headers for i686 Windows")
if(NOT QB_CODECS_ZLIB_LIBRARY OR NOT QB_CODECS_ZLIB_INCLUDE_DIR)
  message(FATAL_ERROR "no static mingw-w64 zlib (libz.a, zlib.h) under ${CMAKE_FIND_ROOT_PATH}: "
    "install libz-mingw-w64-dev, or set QB_CODECS_ZLIB_LIBRARY and QB_CODECS_ZLIB_INCLUDE_DIR")
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

# Builds and installs the package whose upstream tarball is
# QB_CODEC_SOURCES_DIR/PACKAGE_*.orig.tar.*, configured with the common and
# the given arguments, unless the stamp says that this recipe is already
# installed.
# OUTPUT is the library file the build must leave.
function(_qb_codecs_build NAME PACKAGE OUTPUT)
  set(_stamp ${QB_CODECS_DIR}/${NAME}.stamp)
  set(_recipe "${PACKAGE};${_qb_codecs_toolchain};${_qb_codecs_common_args};${ARGN}")
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
  message(STATUS "Building ${NAME} for i686 from ${_tarball} (once per build tree)")

  set(_src ${QB_CODECS_DIR}/src/${NAME})
  set(_build ${QB_CODECS_DIR}/build/${NAME})
  file(REMOVE ${_stamp})
  file(REMOVE_RECURSE ${_src} ${_build})
  file(MAKE_DIRECTORY ${_src} ${_build})
  execute_process(COMMAND ${CMAKE_COMMAND} -E tar xf ${_tarball} WORKING_DIRECTORY ${_src}
    RESULT_VARIABLE _rc)
  file(GLOB _top LIST_DIRECTORIES true ${_src}/*)
  list(LENGTH _top _count)
  if(NOT _rc EQUAL 0 OR NOT _count EQUAL 1 OR NOT IS_DIRECTORY ${_top})
    message(FATAL_ERROR "could not unpack ${_tarball} into ${_src}")
  endif()

  _qb_codecs_run(${NAME} configure ${CMAKE_COMMAND} -S ${_top} -B ${_build}
    ${_qb_codecs_common_args} ${ARGN})
  _qb_codecs_run(${NAME} build ${CMAKE_COMMAND} --build ${_build} --parallel ${_qb_codecs_jobs})
  _qb_codecs_run(${NAME} install ${CMAKE_COMMAND} --install ${_build})
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
_qb_codecs_build(libjpeg-turbo libjpeg-turbo ${QB_JPEG_LIBRARY}
  -DENABLE_SHARED=OFF -DENABLE_STATIC=ON -DWITH_TURBOJPEG=OFF
  -DWITH_SIMD=ON -DREQUIRE_SIMD=ON -DCMAKE_ASM_NASM_COMPILER=${QB_NASM})

_qb_codecs_build(libpng libpng1.6 ${QB_PNG_LIBRARY}
  -DPNG_SHARED=OFF -DPNG_STATIC=ON -DPNG_TESTS=OFF -DPNG_EXECUTABLES=OFF
  -DZLIB_LIBRARY=${QB_CODECS_ZLIB_LIBRARY} -DZLIB_INCLUDE_DIR=${QB_CODECS_ZLIB_INCLUDE_DIR})

add_library(JPEG::JPEG STATIC IMPORTED GLOBAL)
set_target_properties(JPEG::JPEG PROPERTIES
  IMPORTED_LOCATION ${QB_JPEG_LIBRARY}
  INTERFACE_INCLUDE_DIRECTORIES ${QB_CODECS_PREFIX}/include)

add_library(PNG::PNG STATIC IMPORTED GLOBAL)
set_target_properties(PNG::PNG PROPERTIES
  IMPORTED_LOCATION ${QB_PNG_LIBRARY}
  INTERFACE_INCLUDE_DIRECTORIES ${QB_CODECS_PREFIX}/include
  INTERFACE_LINK_LIBRARIES ${QB_CODECS_ZLIB_LIBRARY})
