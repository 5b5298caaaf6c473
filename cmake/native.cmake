# Native build: portable code, its unit tests and benchmarks.
find_package(GTest REQUIRED)

file(GLOB QB_UNIT_TESTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/unit/*.cpp)
add_executable(qb_unit_tests ${QB_UNIT_TESTS})
target_link_libraries(qb_unit_tests PRIVATE qb_portable rastrum_core GTest::gtest GTest::gtest_main)
add_test(NAME unit COMMAND qb_unit_tests)

option(QB_SANITIZE "Build with AddressSanitizer and UBSan" OFF)
if(QB_SANITIZE)
  foreach(t qb_base qb_portable rastrum_core qb_unit_tests)
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
