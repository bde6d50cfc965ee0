# The real wx window under a virtual X server. Each test process starts its own Xvfb
# through xvfb-run; RESOURCE_LOCK keeps them from racing for a display number.
find_program(VYX_XVFB_RUN xvfb-run)
if(NOT VYX_XVFB_RUN)
  message(WARNING "xvfb-run not found: the GUI tests are not built (scripts/install-deps)")
  return()
endif()

add_executable(gui_tests
  ${CMAKE_CURRENT_LIST_DIR}/GuiWindowTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/GuiSessionTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/GuiTestMain.cpp)
target_link_libraries(gui_tests PRIVATE vyx_wxwindow vyx_test_support GTest::gtest vyx_warnings)
# Discovery only lists the tests and needs no display; running each one does.
set_property(TARGET gui_tests PROPERTY CROSSCOMPILING_EMULATOR
  ${VYX_XVFB_RUN} -a -s "-screen 0 1280x1024x24")
gtest_discover_tests(gui_tests DISCOVERY_MODE PRE_TEST TEST_PREFIX "gui."
  PROPERTIES TIMEOUT 60 LABELS gui RESOURCE_LOCK vyx_xvfb)

# The program itself, as a newcomer runs it: against the simulated display, started,
# "Port Open", two lines sent, the information box, "EXIT" with status 0. Its
# screenshots (build tree, tests/screenshots) are those of the README (docs/screenshots,
# refreshed with scripts/screenshot). DISPLAY is cleared so it always runs under Xvfb.
if(TARGET vyx-display-sim)
  add_test(NAME gui.program_session
    COMMAND ${PROJECT_SOURCE_DIR}/scripts/screenshot ${CMAKE_CURRENT_BINARY_DIR}/screenshots)
  set_tests_properties(gui.program_session PROPERTIES
    TIMEOUT 120 LABELS gui RESOURCE_LOCK vyx_xvfb
    ENVIRONMENT "DISPLAY=;VYX_BUILD_DIR=${CMAKE_BINARY_DIR}")
endif()
