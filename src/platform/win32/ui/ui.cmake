# The Windows user interface (dialog, WebBrowser control, message boxes) and
# the Launcher.exe executable with its resources.
set(GLIMMERHOLD_UI_DIR ${CMAKE_CURRENT_LIST_DIR})

file(GLOB GLIMMERHOLD_GUI_SOURCES CONFIGURE_DEPENDS ${GLIMMERHOLD_UI_DIR}/*.cpp)
add_library(glimmerhold_gui STATIC ${GLIMMERHOLD_GUI_SOURCES})
target_include_directories(glimmerhold_gui PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(glimmerhold_gui PUBLIC ole32 oleaut32 uuid comctl32 shlwapi user32 gdi32 shell32 advapi32)

# The dialog template, the icon and the manifest. An object library, so the
# tests that run the real dialog link the very same resources.
add_library(glimmerhold_resources OBJECT ${GLIMMERHOLD_UI_DIR}/launcher.rc)
target_include_directories(glimmerhold_resources PRIVATE ${GLIMMERHOLD_UI_DIR})
set_source_files_properties(${GLIMMERHOLD_UI_DIR}/launcher.rc PROPERTIES
  OBJECT_DEPENDS "${GLIMMERHOLD_UI_DIR}/launcher.ico;${GLIMMERHOLD_UI_DIR}/launcher.manifest")

add_executable(Launcher WIN32 ${PROJECT_SOURCE_DIR}/src/main/win32_main.cpp $<TARGET_OBJECTS:glimmerhold_resources>)
target_compile_options(Launcher PRIVATE -municode)
# Runs on a bare Windows: no MinGW runtime DLLs beside it. --tsaware marks
# the PE terminal-server aware: in a Remote Desktop session Windows gives it
# no per-user compatibility layer over its registry and INI calls.
target_link_options(Launcher PRIVATE -municode -static -static-libgcc -static-libstdc++ -Wl,--tsaware)
target_link_libraries(Launcher PRIVATE glimmerhold_core glimmerhold_gui)
# bin/Launcher.exe: the name the self-update protocol and the version lists use.
set_target_properties(Launcher PROPERTIES OUTPUT_NAME "Launcher")
