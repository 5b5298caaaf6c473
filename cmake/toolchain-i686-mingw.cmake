# Cross build for 32-bit Windows with the posix-thread variant of mingw-w64
# (GoogleTest needs std::mutex).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER i686-w64-mingw32-windres)

# The target's own headers and libraries (mingw-w64's, the cross-built zlib)
# are looked for only under the target root, the folder that holds the
# compiler's runtime libraries; the compiler says where that is.
if(NOT QB_MINGW_ROOT)
  execute_process(COMMAND ${CMAKE_C_COMPILER} -print-file-name=libmingw32.a
    OUTPUT_VARIABLE _qb_mingw_lib OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE _qb_rc)
  if(NOT _qb_rc EQUAL 0 OR NOT IS_ABSOLUTE "${_qb_mingw_lib}")
    message(FATAL_ERROR "cannot ask ${CMAKE_C_COMPILER} for its libraries: install g++-mingw-w64-i686, "
      "or set QB_MINGW_ROOT to the mingw-w64 target root (the folder with include/ and lib/)")
  endif()
  get_filename_component(_qb_mingw_lib "${_qb_mingw_lib}" ABSOLUTE)
  get_filename_component(_qb_mingw_lib "${_qb_mingw_lib}" DIRECTORY)
  get_filename_component(QB_MINGW_ROOT "${_qb_mingw_lib}" DIRECTORY)
endif()
set(CMAKE_FIND_ROOT_PATH ${QB_MINGW_ROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
