# Tests of the serial link: the port's logic on FakeDevice (every platform), the device
# and COM names of each platform.
if(WIN32)
  add_executable(serial_tests
    ${CMAKE_CURRENT_LIST_DIR}/ReceiveQueueTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/SerialPortTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/win32/ComNameTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/win32/Win32DeviceTest.cpp)
  target_link_libraries(serial_tests PRIVATE vyx_serial vyx_fake_device GTest::gtest_main vyx_warnings)
  gtest_discover_tests(serial_tests DISCOVERY_MODE PRE_TEST PROPERTIES TIMEOUT 120)
  # The Windows device end to end, on a COM port that Wine maps to a pseudo-terminal
  # whose far end is tests/winehost/; scripts/test-windows runs it, ctest cannot.
  add_executable(serial_wine_tests ${CMAKE_CURRENT_LIST_DIR}/win32/SerialWineTest.cpp)
  target_link_libraries(serial_wine_tests PRIVATE vyx_serial GTest::gtest_main vyx_warnings)
else()
  add_executable(serial_tests
    ${CMAKE_CURRENT_LIST_DIR}/ReceiveQueueTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/SerialPortTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/TermiosDeviceTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ComNameTest.cpp)
  target_link_libraries(serial_tests PRIVATE
    vyx_serial vyx_fake_device vyx_test_support GTest::gtest_main vyx_warnings)
  gtest_discover_tests(serial_tests DISCOVERY_MODE PRE_TEST PROPERTIES TIMEOUT 120)
endif()
