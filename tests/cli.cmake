if(NOT WIN32)
  # vyxctl run as a child process: against the simulator on a pseudo-terminal, and against
  # a far end the test plays byte by byte.
  add_executable(cli_tests
    ${CMAKE_CURRENT_LIST_DIR}/CliTestSupport.cpp
    ${CMAKE_CURRENT_LIST_DIR}/CliApplyTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/CliCompletionTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/CliPtyTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/CliSimTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/CliSeveralPortsTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/CliTextEncodingTest.cpp)
  find_package(nlohmann_json 3.11 CONFIG REQUIRED)
  target_link_libraries(cli_tests PRIVATE
    vyx_test_support nlohmann_json::nlohmann_json GTest::gtest_main vyx_warnings)
  target_compile_definitions(cli_tests PRIVATE
    VYXCTL_PATH="$<TARGET_FILE:vyxctl>"
    VYX_SIM_PATH="$<TARGET_FILE:vyx-display-sim>")
  add_dependencies(cli_tests vyxctl vyx-display-sim)
  # vyxctl's text follows the machine's locale unless VYX_CODEPAGE says otherwise; the
  # byte-for-byte cases expect Windows-1252 wherever they run.
  gtest_discover_tests(cli_tests DISCOVERY_MODE PRE_TEST
    PROPERTIES TIMEOUT 120 LABELS cli ENVIRONMENT VYX_CODEPAGE=1252)
endif()

# vyxctl's own units, linked in: the reasons and hints of a failed opening, the output
# formatting, the forms of a list argument, the port listings, the port list and the
# runner of a run on several ports, profiles. Under Wine the same units
# run with the Windows parts beside them (the process tests need a pseudo-terminal;
# scripts/test-windows-vyxctl runs vyxctl.exe end to end instead).
add_executable(cli_unit_tests
  ${CMAKE_CURRENT_LIST_DIR}/CliComPortListingTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/CliFormattingTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/CliListArgumentTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/CliProfileTest.cpp)
if(WIN32)
  target_sources(cli_unit_tests PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/ReliabilityCliArgsTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/win32/CliWindowsTest.cpp)
else()
  target_sources(cli_unit_tests PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/CliOpenFailureTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/CliPortListingTest.cpp
    # Its port-list cases link COM names to devices in a folder, as on Linux.
    ${CMAKE_CURRENT_LIST_DIR}/CliSeveralPortsUnitTest.cpp)
endif()
find_package(nlohmann_json 3.11 CONFIG REQUIRED)
target_link_libraries(cli_unit_tests PRIVATE
  vyx_cli nlohmann_json::nlohmann_json GTest::gtest_main vyx_warnings)
gtest_discover_tests(cli_unit_tests DISCOVERY_MODE PRE_TEST PROPERTIES TIMEOUT 60)

if(NOT WIN32)
  # The Ansible example (contrib/ansible) run against localhost with simulated displays.
  add_test(NAME ansible_playbook
    COMMAND ${CMAKE_CURRENT_LIST_DIR}/ansible/test-playbook
            $<TARGET_FILE:vyxctl> $<TARGET_FILE:vyx-display-sim>)
  set_tests_properties(ansible_playbook PROPERTIES TIMEOUT 300 LABELS "cli;ansible")
endif()
