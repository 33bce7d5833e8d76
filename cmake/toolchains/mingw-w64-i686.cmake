# 32-bit Windows, cross-compiled with mingw-w64. The top-level CMakeLists adds
# -msse2 -mfpmath=sse for this processor: x87 arithmetic would round
# differently from the other builds.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(VELTRANE_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
