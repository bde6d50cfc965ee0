# --version of every program, run as a child process without a display.
add_executable(version_tests ${CMAKE_CURRENT_LIST_DIR}/VersionTest.cpp)
target_link_libraries(version_tests PRIVATE vyx_resources GTest::gtest_main vyx_warnings)
target_compile_definitions(version_tests PRIVATE
  VYXCTL_PATH="$<TARGET_FILE:vyxctl>"
  VYX_DISPLAY_SIM_PATH="$<TARGET_FILE:vyx-display-sim>")
add_dependencies(version_tests vyxctl vyx-display-sim)
if(VYX_BUILD_GUI)
  target_compile_definitions(version_tests PRIVATE VYX_UTILITY_PATH="$<TARGET_FILE:VYX_Utility>")
  add_dependencies(version_tests VYX_Utility)
endif()
gtest_discover_tests(version_tests DISCOVERY_MODE PRE_TEST PROPERTIES TIMEOUT 60)
