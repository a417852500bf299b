# Cross-build for 64-bit Windows with MinGW-w64, used for the test suite
# under Wine.
set(MINGW_ARCH x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
