# The Windows user-interface tests: one GoogleTest program that runs the
# real dialog from the real resources (so it links launcher.rc), and the
# check of the release executable's header and resources.
#
# Needs the targets glimmerhold_gui, glimmerhold_resources and
# GTest::gtest built with the Windows toolchain. Run the program under Wine
# with a display (or Wine's null display driver): see ui_main.cpp.
file(GLOB WIN32_UI_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/ui_*_test.cpp)
add_executable(win32_ui_tests ${CMAKE_CURRENT_LIST_DIR}/ui_main.cpp ${WIN32_UI_TEST_SOURCES}
  $<TARGET_OBJECTS:glimmerhold_resources>)
target_link_libraries(win32_ui_tests PRIVATE glimmerhold_gui GTest::gtest)
# Runs under Wine without MinGW's runtime DLLs beside it.
target_link_options(win32_ui_tests PRIVATE -static -static-libgcc -static-libstdc++)

# The release executable is the 32-bit one; its check reads the file and
# runs on the build machine.
if(TARGET Launcher AND CMAKE_SIZEOF_VOID_P EQUAL 4)
  find_package(Python3 COMPONENTS Interpreter)
  if(Python3_Interpreter_FOUND)
    add_test(NAME launcher_exe_check
      COMMAND Python3::Interpreter ${CMAKE_CURRENT_LIST_DIR}/check_launcher_exe.py $<TARGET_FILE:Launcher>)
    set_tests_properties(launcher_exe_check PROPERTIES LABELS unit TIMEOUT 60)
  endif()
endif()
