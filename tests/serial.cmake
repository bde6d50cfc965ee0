# Tests of the serial link: the port's logic on FakeDevice, the termios device and COM
# names against real pseudo-terminals and folders.
add_executable(serial_tests
  ${CMAKE_CURRENT_LIST_DIR}/ReceiveQueueTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SerialPortTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/TermiosDeviceTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ComNameTest.cpp)
target_link_libraries(serial_tests PRIVATE
  vyx_serial vyx_fake_device vyx_test_support GTest::gtest_main vyx_warnings)
gtest_discover_tests(serial_tests DISCOVERY_MODE PRE_TEST PROPERTIES TIMEOUT 120)
