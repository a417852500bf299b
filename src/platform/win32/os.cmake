# The Windows side of the operating-system seams (registry, files, sockets,
# threads, processes): glimmerhold_os.
file(GLOB GLIMMERHOLD_OS_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/platform/win32/*.cpp)
add_library(glimmerhold_os STATIC ${GLIMMERHOLD_OS_SOURCES}
  ${CMAKE_CURRENT_SOURCE_DIR}/platform/read_whole_file.cpp)
target_include_directories(glimmerhold_os PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(glimmerhold_os PUBLIC glimmerhold_text ws2_32 oleaut32 ole32 advapi32 bcrypt)
