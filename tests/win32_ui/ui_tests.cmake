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
# The scripted document: E_NOTIMPL for every method of the MSHTML interfaces
# it implements, generated from the toolchain's own header, and behaviour
# for the methods the launcher calls.
find_file(GLIMMERHOLD_MSHTML_HEADER mshtml.h REQUIRED)
find_package(Python3 REQUIRED COMPONENTS Interpreter)
set(MSHTML_STUBS ${CMAKE_CURRENT_BINARY_DIR}/win32_ui_generated/mshtml_stubs.h)
add_custom_command(OUTPUT ${MSHTML_STUBS}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/win32_ui_generated
  COMMAND Python3::Interpreter ${CMAKE_CURRENT_LIST_DIR}/stub_interfaces.py ${GLIMMERHOLD_MSHTML_HEADER}
    ${MSHTML_STUBS} IHTMLDocument2 IHTMLDocument3 IHTMLElement IHTMLElementCollection
  DEPENDS ${CMAKE_CURRENT_LIST_DIR}/stub_interfaces.py ${GLIMMERHOLD_MSHTML_HEADER})
target_sources(win32_ui_tests PRIVATE ${CMAKE_CURRENT_LIST_DIR}/scripted_document.cpp ${MSHTML_STUBS})
target_include_directories(win32_ui_tests PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/win32_ui_generated)
target_link_libraries(win32_ui_tests PRIVATE glimmerhold_test_support glimmerhold_gui GTest::gtest)
set_target_properties(win32_ui_tests PROPERTIES GLIMMERHOLD_UI_BACKEND glimmerhold_gui)
# Runs under Wine without MinGW's runtime DLLs beside it.
target_link_options(win32_ui_tests PRIVATE -static -static-libgcc -static-libstdc++)

# The real launcher with a page-ready limit of 3 seconds (short_wait.cpp),
# started by the test of a start where no page ever arrives.
add_executable(short_wait_launcher WIN32 ${PROJECT_SOURCE_DIR}/src/main/win32_main.cpp
  ${CMAKE_CURRENT_LIST_DIR}/short_wait.cpp $<TARGET_OBJECTS:glimmerhold_resources>)
target_compile_options(short_wait_launcher PRIVATE -municode)
target_link_options(short_wait_launcher PRIVATE -municode -static -static-libgcc -static-libstdc++)
target_link_libraries(short_wait_launcher PRIVATE glimmerhold_launcher)
set_target_properties(short_wait_launcher PROPERTIES GLIMMERHOLD_UI_BACKEND glimmerhold_gui)
add_dependencies(win32_ui_tests short_wait_launcher)

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
