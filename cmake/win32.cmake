# Windows build: the shipped binaries and the test programs that run under Wine.
include(cmake/catalogue.cmake)

set(QB_GEN ${CMAKE_BINARY_DIR}/generated)
file(MAKE_DIRECTORY ${QB_GEN})

# Host tools and files the build reads. widl, with Wine's system IDL files
# (libwine-dev) and its 32-bit stdole2.tlb (wine32), which the type library
# imports; GoogleTest's sources (libgtest-dev, libgmock-dev), built for the
# target. All of them live on the host, not under the target root.
find_program(WIDL i686-w64-mingw32-widl REQUIRED)
find_path(WINE_IDL_DIR oaidl.idl PATH_SUFFIXES wine/wine/windows wine/windows
  NO_CMAKE_FIND_ROOT_PATH DOC "Wine's system IDL files (oaidl.idl, ...)")
if(NOT WINE_IDL_DIR)
  message(FATAL_ERROR "Wine's IDL files (oaidl.idl) not found: install libwine-dev, or set WINE_IDL_DIR")
endif()
find_path(WINE_TLB_DIR stdole2.tlb
  PATH_SUFFIXES lib/i386-linux-gnu/wine/i386-windows lib/wine/i386-windows
  NO_CMAKE_FIND_ROOT_PATH DOC "folder of Wine's 32-bit stdole2.tlb")
if(NOT WINE_TLB_DIR)
  message(FATAL_ERROR "Wine's 32-bit stdole2.tlb not found: install wine32:i386, or set WINE_TLB_DIR")
endif()
find_path(QB_GOOGLETEST_SOURCE_DIR googlemock/include/gmock/gmock.h
  PATH_SUFFIXES src/googletest NO_CMAKE_FIND_ROOT_PATH
  DOC "GoogleTest's source tree: googletest/ and googlemock/ under one CMakeLists.txt")
if(NOT QB_GOOGLETEST_SOURCE_DIR OR NOT EXISTS ${QB_GOOGLETEST_SOURCE_DIR}/CMakeLists.txt)
  message(FATAL_ERROR "GoogleTest's sources not found: install libgtest-dev and libgmock-dev, "
    "or set QB_GOOGLETEST_SOURCE_DIR")
endif()

# Type library and interface headers from the IDL.
add_custom_command(
  OUTPUT ${QB_GEN}/quillbox.h ${QB_GEN}/quillbox_i.c ${CMAKE_BINARY_DIR}/Quillbox.tlb
  COMMAND ${WIDL} --win32 -I${WINE_IDL_DIR} -L${WINE_TLB_DIR}
          -h -H ${QB_GEN}/quillbox.h -u -U ${QB_GEN}/quillbox_i.c
          -t -T ${CMAKE_BINARY_DIR}/Quillbox.tlb ${CMAKE_SOURCE_DIR}/idl/quillbox.idl
  DEPENDS ${CMAKE_SOURCE_DIR}/idl/quillbox.idl
  COMMENT "widl: Quillbox.tlb and interface headers")
add_custom_target(quillbox_idl DEPENDS ${QB_GEN}/quillbox.h ${CMAKE_BINARY_DIR}/Quillbox.tlb)

# The scripting reference, one page per class, from the IDL's help strings
# into reference/ of the build tree. The generator fails the build when the
# library, an interface, a method or a property has no help string, or a
# method's text does not tell one of its arguments.
find_program(QB_PYTHON3 python3 REQUIRED NO_CMAKE_FIND_ROOT_PATH)
add_custom_command(
  OUTPUT ${CMAKE_BINARY_DIR}/reference/index.md
  COMMAND ${QB_PYTHON3} ${CMAKE_SOURCE_DIR}/tools/idl-reference.py
          ${CMAKE_SOURCE_DIR}/idl/quillbox.idl ${CMAKE_BINARY_DIR}/reference
  DEPENDS ${CMAKE_SOURCE_DIR}/idl/quillbox.idl ${CMAKE_SOURCE_DIR}/tools/idl-reference.py
  COMMENT "Scripting reference: reference/*.md")
add_custom_target(quillbox_reference ALL DEPENDS ${CMAKE_BINARY_DIR}/reference/index.md)

qb_generate_registry_scripts(${QB_GEN})

# Everything of the server but its entry points, so that the Windows test
# program can reach internal routines directly.
file(GLOB QB_SERVER_SOURCES CONFIGURE_DEPENDS
  ${CMAKE_SOURCE_DIR}/com/*.cpp
  ${CMAKE_SOURCE_DIR}/core/*.cpp
  ${CMAKE_SOURCE_DIR}/collections/*.cpp
  ${CMAKE_SOURCE_DIR}/server/*.cpp
  ${CMAKE_SOURCE_DIR}/modifiers/*.cpp
  ${CMAKE_SOURCE_DIR}/output/*.cpp)
list(REMOVE_ITEM QB_SERVER_SOURCES ${CMAKE_SOURCE_DIR}/server/dllmain.cpp)
add_library(quillbox_server STATIC ${QB_SERVER_SOURCES} ${QB_GEN}/quillbox_i.c)
add_dependencies(quillbox_server quillbox_idl)
target_include_directories(quillbox_server PUBLIC ${CMAKE_SOURCE_DIR} ${QB_GEN})
target_link_libraries(quillbox_server PUBLIC qb_portable qb_base_win rastrum_work_client rastrum_import
  ole32 oleaut32 uuid user32 gdi32 gdiplus advapi32 shlwapi)

set(QB_RC ${CMAKE_SOURCE_DIR}/server/quillbox.rc)
set_source_files_properties(${QB_RC} PROPERTIES
  OBJECT_DEPENDS "${QB_GEN}/registry_scripts.rc")
set(CMAKE_RC_FLAGS "${CMAKE_RC_FLAGS} -I${QB_GEN} -I${CMAKE_SOURCE_DIR}")

add_library(Quillbox SHARED server/dllmain.cpp server/quillbox.def ${QB_RC})
set_target_properties(Quillbox PROPERTIES PREFIX "" OUTPUT_NAME Quillbox
  RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
target_link_libraries(Quillbox PRIVATE quillbox_server)
# Shipped binaries carry no symbols.
target_link_options(Quillbox PRIVATE -s)

# The surrogate beside the DLL: serves its classes to clients that cannot
# load it (64-bit ones), all in one process.
add_executable(QuillboxHost WIN32 host/quillbox_host.cpp ${QB_GEN}/quillbox_i.c)
add_dependencies(QuillboxHost quillbox_idl)
target_include_directories(QuillboxHost PRIVATE ${CMAKE_SOURCE_DIR} ${QB_GEN})
target_link_libraries(QuillboxHost PRIVATE ole32 uuid shell32)
target_link_options(QuillboxHost PRIVATE -municode -s)
set_target_properties(QuillboxHost PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})

# Type-library registration tool used by the install script.
add_executable(regtlb install/regtlb.cpp)
target_link_libraries(regtlb PRIVATE ole32 oleaut32)
set_target_properties(regtlb PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
target_link_options(regtlb PRIVATE -municode -s)

# Windows test programs (GoogleTest, cross-built from Debian's sources).
set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(${QB_GOOGLETEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
file(GLOB QB_WIN_TESTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/win/*.cpp)
# The kernels' tests that compare every vector level with the plain code
# run in the 32-bit build too, where the AVX2 forms are chosen at run time,
# and so do the worker pool's, the threaded codecs' and the kernels' on several threads (the test program
# links the imaging library's core for them).
set(QB_WIN_KERNEL_TESTS color_adjust mirror sharpen work_pool rastrum_threads kernels_on_threads)
list(TRANSFORM QB_WIN_KERNEL_TESTS PREPEND ${CMAKE_SOURCE_DIR}/tests/unit/)
list(TRANSFORM QB_WIN_KERNEL_TESTS APPEND _test.cpp)
add_executable(quillbox_wintests ${QB_WIN_TESTS} ${QB_WIN_KERNEL_TESTS} ${QB_RC})
target_link_libraries(quillbox_wintests PRIVATE quillbox_server rastrum_core rastrum_work_client gtest gmock vfw32)
target_compile_definitions(quillbox_wintests PRIVATE
  QB_BUILD_DIR="${CMAKE_BINARY_DIR}" QB_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
set_target_properties(quillbox_wintests PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
add_test(NAME wintests COMMAND quillbox_wintests)

# The install scripts sit beside the binaries, where a user runs them.
foreach(_script install.cmd uninstall.cmd)
  configure_file(${CMAKE_SOURCE_DIR}/install/${_script} ${CMAKE_BINARY_DIR}/${_script} COPYONLY)
endforeach()

# A program that uses the registered server as any client would: through
# COM, with the generated interface ids. WIDE for a wmain; LIBS are linked
# beside ole32, oleaut32 and uuid.
function(qb_add_client NAME SOURCE)
  cmake_parse_arguments(C "WIDE" "" "LIBS" ${ARGN})
  add_executable(${NAME} ${SOURCE} ${QB_GEN}/quillbox_i.c)
  add_dependencies(${NAME} quillbox_idl)
  target_include_directories(${NAME} PRIVATE ${QB_GEN} ${CMAKE_SOURCE_DIR})
  target_link_libraries(${NAME} PRIVATE ${C_LIBS} ole32 oleaut32 uuid)
  if(C_WIDE)
    target_link_options(${NAME} PRIVATE -municode)
  endif()
  set_target_properties(${NAME} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
endfunction()

# Benchmarks that run under Wine against the registered server.
qb_add_client(apply_bench bench/win/apply_bench.cpp LIBS rastrum_import psapi)
qb_add_client(decode_bench bench/win/decode_bench.cpp WIDE)
qb_add_client(png_save_bench bench/win/png_save_bench.cpp WIDE)
qb_add_client(jpeg_bench bench/win/jpeg_bench.cpp WIDE)

# Clients for 64-bit Windows, which the surrogate serves: built from the same
# sources as their 32-bit twins with the x86-64 cross compiler.
find_program(QB_CXX64 x86_64-w64-mingw32-g++ NO_CMAKE_FIND_ROOT_PATH)
if(NOT QB_CXX64)
  message(FATAL_ERROR "x86_64-w64-mingw32-g++ not found: install g++-mingw-w64-x86-64")
endif()
function(qb_add_win64_program NAME SOURCE)
  add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/${NAME}.exe
    COMMAND ${QB_CXX64} -std=c++20 -O2 -Wall -Wextra -municode -static
            -DUNICODE -D_UNICODE -DWIN32_LEAN_AND_MEAN -DNOMINMAX -D_WIN32_WINNT=0x0600
            -I${QB_GEN} -I${CMAKE_SOURCE_DIR} ${SOURCE} -x c++ ${QB_GEN}/quillbox_i.c -x none
            -lole32 -loleaut32 -luuid -o ${CMAKE_BINARY_DIR}/${NAME}.exe
    DEPENDS ${SOURCE} ${QB_GEN}/quillbox.h ${QB_GEN}/quillbox_i.c
    COMMENT "x86-64: ${NAME}.exe")
  add_custom_target(${NAME} ALL DEPENDS ${CMAKE_BINARY_DIR}/${NAME}.exe)
  add_dependencies(${NAME} quillbox_idl)
endfunction()

# A client calling through the vtables, in process (32-bit) and through the
# surrogate (64-bit).
qb_add_client(vtable_client tests/surrogate/vtable_client.cpp WIDE)
qb_add_win64_program(vtable_client64 ${CMAKE_SOURCE_DIR}/tests/surrogate/vtable_client.cpp)

# The card player, copied in front of every card. It travels alone, so it is
# self-contained: the decoders are linked in, and it imports only libraries
# the system always loads from its own folder (KnownDLLs). ShowreelTest is
# the same player with a test switch that writes a screenshot; it never
# ships.
function(qb_add_player NAME)
  add_executable(${NAME} WIN32 showreel/showreel.cpp output/card_file.cpp showreel/showreel.rc)
  set_target_properties(${NAME} PROPERTIES OUTPUT_NAME ${NAME} SUFFIX ".EXE"
    RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
  target_include_directories(${NAME} PRIVATE ${CMAKE_SOURCE_DIR})
  target_link_libraries(${NAME} PRIVATE qb_portable rastrum_core qb_work_pool qb_base_win user32 gdi32 shell32)
  target_link_options(${NAME} PRIVATE -municode ${ARGN})
endfunction()
qb_add_player(Showreel -s)
qb_add_player(ShowreelTest)
target_compile_definitions(ShowreelTest PRIVATE QB_SHOWREEL_TEST)
# The tests pack cards from the player beside the server.
add_dependencies(quillbox_wintests Showreel ShowreelTest)

qb_add_client(card_bench bench/win/card_bench.cpp LIBS gdi32)

# Colour adjustment's kernel as the DLL runs it, for bench/colour_vs_opencv.sh.
add_executable(colour_bench bench/win/colour_bench.cpp)
target_link_libraries(colour_bench PRIVATE qb_portable rastrum_core qb_work_pool)
set_target_properties(colour_bench PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})

# The soak: every class used over and over in one process, through the
# registered server; tests/scripts/soak.sh runs it with a few rounds.
add_executable(quillbox_soak tests/soak/soak.cpp)
target_include_directories(quillbox_soak PRIVATE ${CMAKE_SOURCE_DIR})
target_link_libraries(quillbox_soak PRIVATE ole32 oleaut32 uuid gdi32 user32)
target_link_options(quillbox_soak PRIVATE -municode)
set_target_properties(quillbox_soak PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})

# What the surrogate costs: the same calls in process (32-bit) and through
# QuillboxHost.exe (64-bit), printed side by side by the 64-bit one.
qb_add_client(surrogate_bench bench/win/surrogate_bench.cpp WIDE)
qb_add_win64_program(surrogate_bench64 ${CMAKE_SOURCE_DIR}/bench/win/surrogate_bench.cpp)
