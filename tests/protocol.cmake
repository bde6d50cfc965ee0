if(WIN32)
  # FrameTest needs Frame.cpp, which is not built for Windows yet (see protocol/).
  add_executable(protocol_tests ${CMAKE_CURRENT_LIST_DIR}/ReportTest.cpp)
  target_link_libraries(protocol_tests PRIVATE vyx_protocol GTest::gtest_main vyx_warnings)
  gtest_discover_tests(protocol_tests DISCOVERY_MODE PRE_TEST PROPERTIES TIMEOUT 60)
else()
  add_executable(protocol_tests
    ${CMAKE_CURRENT_LIST_DIR}/FrameTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ReportTest.cpp)
  target_link_libraries(protocol_tests PRIVATE vyx_protocol GTest::gtest_main vyx_warnings)
  gtest_discover_tests(protocol_tests DISCOVERY_MODE PRE_TEST PROPERTIES TIMEOUT 60)
endif()
