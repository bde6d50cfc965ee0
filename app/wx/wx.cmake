# The wx window, the About box and the application, on GTK. The choices GTK forces (the
# dialog's own modal loop, wx's generic message box, no window menu) are made here, each
# with its reason where it is made; a native window elsewhere makes its own.
# wx 3.2's CMake module on CMake 3.25 has no imported target; its use file adds the
# include directories as SYSTEM, so -Werror never fires on wx headers.
find_package(wxWidgets REQUIRED COMPONENTS core base)
include(${wxWidgets_USE_FILE})

# Everything but the application object, so that the GUI tests drive the same window.
add_library(vyx_wxwindow STATIC
  ${CMAKE_CURRENT_LIST_DIR}/WxResources.cpp
  ${CMAKE_CURRENT_LIST_DIR}/WxMessageBoxes.cpp
  ${CMAKE_CURRENT_LIST_DIR}/WxNotifier.cpp
  ${CMAKE_CURRENT_LIST_DIR}/WxAboutDlg.cpp
  ${CMAKE_CURRENT_LIST_DIR}/WxDialogWindow.cpp
  ${CMAKE_CURRENT_LIST_DIR}/WxMainDialog.cpp)
target_include_directories(vyx_wxwindow PUBLIC ${PROJECT_SOURCE_DIR})
target_include_directories(vyx_wxwindow SYSTEM PUBLIC ${wxWidgets_INCLUDE_DIRS})
target_compile_definitions(vyx_wxwindow PUBLIC ${wxWidgets_DEFINITIONS})
target_compile_options(vyx_wxwindow PUBLIC ${wxWidgets_CXX_FLAGS})
target_link_libraries(vyx_wxwindow PUBLIC vyx_dialog vyx_resources ${wxWidgets_LIBRARIES}
  PRIVATE vyx_warnings)

# The program is named after its executable: the application's title, and so the
# caption of the watcher's boxes, is "VYX_Utility".
add_executable(VYX_Utility ${CMAKE_CURRENT_LIST_DIR}/WxApp.cpp)
target_link_libraries(VYX_Utility PRIVATE vyx_wxwindow vyx_warnings)
install(TARGETS VYX_Utility RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
