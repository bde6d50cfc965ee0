# The program under faults and bad input: the dialog on the real serial layer against a
# far end that vanishes, stalls, floods or lies; operator text and rapid clicks;
# config.data in every shape.
add_executable(reliability_tests
  ${CMAKE_CURRENT_LIST_DIR}/ReliabilityDialogTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ReliabilityInputTest.cpp)
target_link_libraries(reliability_tests PRIVATE
  vyx_fake_window vyx_dialog vyx_fake_device vyx_test_support vyx_test_environment
  GTest::gtest_main vyx_warnings)
gtest_discover_tests(reliability_tests DISCOVERY_MODE PRE_TEST PROPERTIES TIMEOUT 180)

# A thousand rounds each of opening and querying: minutes under the sanitizers, so they
# run with `make soak`, not `make test`.
add_executable(reliability_soak_tests ${CMAKE_CURRENT_LIST_DIR}/ReliabilitySoakTest.cpp)
target_link_libraries(reliability_soak_tests PRIVATE
  vyx_fake_window vyx_dialog vyx_fake_device vyx_test_support vyx_test_environment
  GTest::gtest_main vyx_warnings)
gtest_discover_tests(reliability_soak_tests DISCOVERY_MODE PRE_TEST TEST_PREFIX "soak."
  PROPERTIES TIMEOUT 600 LABELS soak)

# vyxctl's argument handling on values a script might pass.
add_executable(reliability_cli_tests ${CMAKE_CURRENT_LIST_DIR}/ReliabilityCliArgsTest.cpp)
target_link_libraries(reliability_cli_tests PRIVATE vyx_cli GTest::gtest_main vyx_warnings)
gtest_discover_tests(reliability_cli_tests DISCOVERY_MODE PRE_TEST PROPERTIES TIMEOUT 60)
