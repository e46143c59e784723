# The shipped 32-bit DLL (PE32).
set(KV_MINGW_PROCESSOR i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-toolchain.cmake)
