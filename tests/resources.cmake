# The resource tables checked for consistency: no display needed.
add_executable(resources_tests ${CMAKE_CURRENT_LIST_DIR}/ResourcesTest.cpp)
target_link_libraries(resources_tests PRIVATE vyx_resources GTest::gtest_main vyx_warnings)
gtest_discover_tests(resources_tests DISCOVERY_MODE PRE_TEST PROPERTIES TIMEOUT 60)
