# Native build: portable code, its unit tests and benchmarks.
find_package(GTest REQUIRED)

file(GLOB QB_UNIT_TESTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/unit/*.cpp)
add_executable(qb_unit_tests ${QB_UNIT_TESTS})
target_link_libraries(qb_unit_tests PRIVATE qb_portable rastrum_core GTest::gtest GTest::gtest_main)
add_test(NAME unit COMMAND qb_unit_tests)

option(QB_SANITIZE "Build with AddressSanitizer and UBSan" OFF)
if(QB_SANITIZE)
  foreach(t qb_base qb_work_pool qb_portable rastrum_core qb_unit_tests)
    target_compile_options(${t} PRIVATE -fsanitize=address,undefined -fno-omit-frame-pointer)
    target_link_options(${t} PRIVATE -fsanitize=address,undefined)
  endforeach()
endif()

find_package(benchmark QUIET)
file(GLOB QB_BENCHES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/bench/*.cpp)
if(benchmark_FOUND AND QB_BENCHES AND NOT QB_SANITIZE)
  add_executable(qb_bench ${QB_BENCHES})
  target_link_libraries(qb_bench PRIVATE qb_portable rastrum_core benchmark::benchmark benchmark::benchmark_main)
  # OpenCV, when installed, times the anchors the pixel kernels are compared
  # with; without it they are compared with memcpy.
  find_package(OpenCV QUIET COMPONENTS core imgproc)
  if(OpenCV_FOUND)
    target_include_directories(qb_bench SYSTEM PRIVATE ${OpenCV_INCLUDE_DIRS})
    target_link_libraries(qb_bench PRIVATE opencv_core opencv_imgproc)
    target_compile_definitions(qb_bench PRIVATE QB_HAVE_OPENCV=1)
  endif()
endif()

# Fuzz targets: one file of fuzz/ each (fuzz_support.cpp and fuzz_main.cpp
# are shared; support/ holds what the unit tests use as well). The unit
# tests call every target on its regression files; with QB_FUZZ (clang
# only) each becomes a libFuzzer binary fuzz_NAME, the portable code
# instrumented for coverage, ASan and UBSan. tools/fuzz.sh builds and runs
# them.
file(GLOB QB_FUZZ_BODIES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/fuzz/*.cpp)
list(FILTER QB_FUZZ_BODIES EXCLUDE REGEX "/fuzz_(main|support)\\.cpp$")
target_sources(qb_unit_tests PRIVATE ${QB_FUZZ_BODIES} ${CMAKE_SOURCE_DIR}/fuzz/fuzz_support.cpp
  ${CMAKE_SOURCE_DIR}/fuzz/support/memory_key_store.cpp)
target_compile_definitions(qb_unit_tests PRIVATE QB_FUZZ_REGRESSIONS="${CMAKE_SOURCE_DIR}/fuzz/regressions")

option(QB_FUZZ "Build the libFuzzer targets (clang)" OFF)
if(QB_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "QB_FUZZ needs clang (CC=clang CXX=clang++)")
  endif()
  set(_fuzz_flags -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer -g)
  foreach(t qb_base qb_work_pool qb_portable rastrum_core)
    target_compile_options(${t} PRIVATE ${_fuzz_flags} -fsanitize=fuzzer-no-link)
  endforeach()
  add_custom_target(qb_fuzz)
  foreach(body ${QB_FUZZ_BODIES})
    get_filename_component(name ${body} NAME_WE)
    add_executable(fuzz_${name} ${body} ${CMAKE_SOURCE_DIR}/fuzz/fuzz_main.cpp
      ${CMAKE_SOURCE_DIR}/fuzz/fuzz_support.cpp ${CMAKE_SOURCE_DIR}/fuzz/support/memory_key_store.cpp)
    target_compile_definitions(fuzz_${name} PRIVATE QB_FUZZ_ENTRY=qb_fuzz_${name})
    target_compile_options(fuzz_${name} PRIVATE ${_fuzz_flags} -fsanitize=fuzzer)
    target_link_options(fuzz_${name} PRIVATE -fsanitize=fuzzer,address,undefined)
    target_link_libraries(fuzz_${name} PRIVATE qb_portable rastrum_core)
    add_dependencies(qb_fuzz fuzz_${name})
  endforeach()
endif()
