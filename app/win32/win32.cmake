# The native Windows dialog: templates built at run time from resources/, user32 for the
# rest. Everything but the program's entry, so that tests can use the same pieces.
add_library(vyx_win32window STATIC
  ${CMAKE_CURRENT_LIST_DIR}/DialogTemplate.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Win32Api.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Win32DialogWindow.cpp)
target_include_directories(vyx_win32window PUBLIC ${PROJECT_SOURCE_DIR})
target_compile_definitions(vyx_win32window PRIVATE
  _WIN32_WINNT=0x0601 WIN32_LEAN_AND_MEAN NOMINMAX UNICODE _UNICODE)
target_link_libraries(vyx_win32window PUBLIC vyx_dialog vyx_resources PRIVATE vyx_warnings)

# The program: a Windows-subsystem executable, statically linked, with icon 128, string
# 101 and the version record from resources/ as real resources.
add_executable(VYX_Utility WIN32 ${CMAKE_CURRENT_LIST_DIR}/Win32App.cpp ${VYX_RC_FILE})
target_link_libraries(VYX_Utility PRIVATE vyx_win32window vyx_warnings)
set_source_files_properties(${VYX_RC_FILE} PROPERTIES
  OBJECT_DEPENDS ${PROJECT_SOURCE_DIR}/resources/icons/vyx-utility.ico)
install(TARGETS VYX_Utility RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
