add_executable(protocol_tests
  ${CMAKE_CURRENT_LIST_DIR}/FrameTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ReportTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/CodePageTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/InformationFrameTest.cpp)
target_link_libraries(protocol_tests PRIVATE vyx_protocol GTest::gtest_main vyx_warnings)
gtest_discover_tests(protocol_tests DISCOVERY_MODE PRE_TEST PROPERTIES TIMEOUT 60)
