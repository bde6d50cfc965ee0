# The dialog's behaviour without any toolkit: what the wx window and the tests drive.
add_library(vyx_dialog STATIC
  ${CMAKE_CURRENT_LIST_DIR}/VYX_UtilityDlg.cpp
  ${CMAKE_CURRENT_LIST_DIR}/DialogNavigation.cpp
  ${CMAKE_CURRENT_LIST_DIR}/VYX_UtilityDlgCommands.cpp)
target_include_directories(vyx_dialog PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(vyx_dialog PUBLIC vyx_serial vyx_protocol vyx_resources PRIVATE vyx_warnings)
