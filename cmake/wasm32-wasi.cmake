# Building the library for WebAssembly with Debian's clang (--target
# wasm32-wasi), wasi-libc, libc++ for wasm32 and lld: a module with no
# imports, which the page and Node load themselves.
set(CMAKE_SYSTEM_NAME Generic)  # this CMake knows no WASI platform
set(CMAKE_SYSTEM_PROCESSOR wasm32)
set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_C_COMPILER_TARGET wasm32-wasi)
set(CMAKE_CXX_COMPILER_TARGET wasm32-wasi)
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
# wasi-libc's C++ runtime has no exceptions: a failed allocation traps.
# 128-bit SIMD (every current browser and Node since 16.4) lets the compiler
# vectorise the candidate search: a third less time on a large map.
set(CMAKE_CXX_FLAGS_INIT "-fno-exceptions -msimd128")
# A library module: no main, its exports called by the page.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-mexec-model=reactor")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
