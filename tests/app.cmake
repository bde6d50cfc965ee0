# The dialog's behaviour through the fake window, and the download hand-off; no display
# needed, so these run in every build, the sanitizer builds included.
add_library(vyx_fake_window STATIC ${CMAKE_CURRENT_LIST_DIR}/support/FakeWindow.cpp)
target_include_directories(vyx_fake_window PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(vyx_fake_window PUBLIC vyx_dialog PRIVATE vyx_warnings)

add_executable(dialog_tests
  ${CMAKE_CURRENT_LIST_DIR}/DialogTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/DialogTestCommands.cpp
  ${CMAKE_CURRENT_LIST_DIR}/DialogTestInformation.cpp
  ${CMAKE_CURRENT_LIST_DIR}/DialogNavigationTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/DownloadTest.cpp)
target_link_libraries(dialog_tests PRIVATE
  vyx_fake_window vyx_dialog vyx_fake_device vyx_test_support GTest::gtest_main vyx_warnings)
gtest_discover_tests(dialog_tests DISCOVERY_MODE PRE_TEST PROPERTIES TIMEOUT 60)
