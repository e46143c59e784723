# The 64-bit DLL (PE32+), the tests and the benchmark.
set(KV_MINGW_PROCESSOR x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-toolchain.cmake)
