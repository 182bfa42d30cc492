# Compiles for WebAssembly (wasm32-wasi) with Debian's clang 14, wasi-libc,
# libc++-14-dev-wasm32 and wasm-ld from lld-14. The module is a reactor: it
# has no main, the page calls its exports.
# CMake 3.25 has no platform file for WASI; nothing here needs one.
set(CMAKE_SYSTEM_NAME Generic)
set(CMAKE_SYSTEM_PROCESSOR wasm32)
set(CMAKE_C_COMPILER clang-14)
set(CMAKE_CXX_COMPILER clang++-14)
set(CMAKE_C_COMPILER_TARGET wasm32-wasi)
set(CMAKE_CXX_COMPILER_TARGET wasm32-wasi)
# Debian puts the wasm32 libc++ headers where clang does not look by itself.
set(CMAKE_CXX_STANDARD_INCLUDE_DIRECTORIES /usr/lib/llvm-14/include/wasm32-wasi/c++/v1)
set(CMAKE_CXX_FLAGS_INIT "-fno-exceptions")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-mexec-model=reactor")
# CMake's compiler check links a program with main; a static library needs no link.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
