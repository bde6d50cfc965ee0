add_executable(protocol_tests
  ${CMAKE_CURRENT_LIST_DIR}/FrameTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ReportTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/CodePageTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/InformationFrameTest.cpp)
# Where the host's code page comes from differs: the locale's environment on POSIX, the
# system's ANSI code page on Windows.
if(WIN32)
  target_sources(protocol_tests PRIVATE ${CMAKE_CURRENT_LIST_DIR}/win32/CodePageTest.cpp)
else()
  target_sources(protocol_tests PRIVATE ${CMAKE_CURRENT_LIST_DIR}/posix/CodePageEnvironmentTest.cpp)
endif()
target_link_libraries(protocol_tests PRIVATE vyx_protocol GTest::gtest_main vyx_warnings)
gtest_discover_tests(protocol_tests DISCOVERY_MODE PRE_TEST PROPERTIES TIMEOUT 60)
