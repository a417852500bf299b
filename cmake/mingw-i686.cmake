# Cross-build for 32-bit Windows with MinGW-w64: the release target,
# Launcher.exe.
set(MINGW_ARCH i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
