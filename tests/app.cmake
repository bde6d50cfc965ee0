# The dialog's behaviour through the fake window, and the download hand-off; no display
# needed, so these run in every build, the sanitizer builds included.
add_library(vyx_fake_window STATIC ${CMAKE_CURRENT_LIST_DIR}/support/FakeWindow.cpp)
target_include_directories(vyx_fake_window PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(vyx_fake_window PUBLIC vyx_dialog PRIVATE vyx_warnings)

add_executable(dialog_tests
  ${CMAKE_CURRENT_LIST_DIR}/DialogTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/DialogTestCommands.cpp
  ${CMAKE_CURRENT_LIST_DIR}/DialogTestInformation.cpp
  ${CMAKE_CURRENT_LIST_DIR}/DialogNavigationTest.cpp)
target_link_libraries(dialog_tests PRIVATE
  vyx_fake_window vyx_dialog vyx_fake_device vyx_test_environment GTest::gtest_main vyx_warnings)
if(WIN32)
  # The hand-off's Windows parts: the record file and a real child process.
  target_sources(dialog_tests PRIVATE ${CMAKE_CURRENT_LIST_DIR}/win32/DownloadTest.cpp)
  add_executable(vyx_stand_in_tool ${CMAKE_CURRENT_LIST_DIR}/win32/StandInTool.cpp)
  add_dependencies(dialog_tests vyx_stand_in_tool)
  target_compile_definitions(dialog_tests PRIVATE
    VYX_STAND_IN_TOOL="$<TARGET_FILE:vyx_stand_in_tool>")
else()
  # The hand-off on a pseudo-terminal, with a stand-in tool run by the shell.
  target_sources(dialog_tests PRIVATE ${CMAKE_CURRENT_LIST_DIR}/DownloadTest.cpp)
  target_link_libraries(dialog_tests PRIVATE vyx_test_support)
endif()
gtest_discover_tests(dialog_tests DISCOVERY_MODE PRE_TEST PROPERTIES TIMEOUT 60)

if(WIN32)
  # The native Windows dialog under Wine. Its templates read back field by field need
  # no window; ctest runs them.
  # The program's resources are read from the built VYX_Utility.exe.
  add_executable(dialog_template_tests
    ${CMAKE_CURRENT_LIST_DIR}/win32/DialogTemplateTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/win32/ResourceScriptTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/win32/ProgramResources.cpp)
  target_link_libraries(dialog_template_tests PRIVATE
    vyx_win32window version GTest::gtest_main vyx_warnings)
  add_dependencies(dialog_template_tests VYX_Utility)
  target_compile_definitions(dialog_template_tests PRIVATE
    VYX_PROGRAM="$<TARGET_FILE:VYX_Utility>")
  gtest_discover_tests(dialog_template_tests DISCOVERY_MODE PRE_TEST PROPERTIES TIMEOUT 60)
  # The real window, built by the dialog manager and driven in-process on a FakeLine,
  # needs a display (a headless Wine desktop creates no dialogs):
  # scripts/test-windows-dialog runs it under Xvfb, ctest cannot.
  add_executable(dialog_window_tests
    ${CMAKE_CURRENT_LIST_DIR}/win32/DialogManagerTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/win32/DialogWindowTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/win32/WindowDriver.cpp)
  target_link_libraries(dialog_window_tests PRIVATE
    vyx_win32window vyx_fake_device GTest::gtest_main vyx_warnings)
  # Reads another process's windows for scripts/test-windows-dialog.
  add_executable(dialog_probe ${CMAKE_CURRENT_LIST_DIR}/win32/DialogProbe.cpp)
  target_link_libraries(dialog_probe PRIVATE vyx_warnings)
  foreach(target IN ITEMS dialog_template_tests dialog_window_tests dialog_probe)
    target_compile_definitions(${target} PRIVATE
      _WIN32_WINNT=0x0601 WIN32_LEAN_AND_MEAN NOMINMAX UNICODE _UNICODE)
  endforeach()
endif()
