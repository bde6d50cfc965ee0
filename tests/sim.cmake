# The display simulator: its state machine, drawing and options, and the real
# vyx-display-sim process on a pseudo-terminal.
add_executable(sim_tests
  ${CMAKE_CURRENT_LIST_DIR}/SimTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SimScreenTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SimOptionsTest.cpp)
target_link_libraries(sim_tests PRIVATE vyx_sim GTest::gtest_main vyx_warnings)
gtest_discover_tests(sim_tests DISCOVERY_MODE PRE_TEST PROPERTIES TIMEOUT 60)

add_executable(sim_process_tests ${CMAKE_CURRENT_LIST_DIR}/SimProcessTest.cpp)
target_link_libraries(sim_process_tests PRIVATE vyx_sim GTest::gtest_main vyx_warnings)
target_compile_definitions(sim_process_tests
  PRIVATE VYX_DISPLAY_SIM_PATH="$<TARGET_FILE:vyx-display-sim>")
add_dependencies(sim_process_tests vyx-display-sim)
gtest_discover_tests(sim_process_tests DISCOVERY_MODE PRE_TEST PROPERTIES TIMEOUT 60)
