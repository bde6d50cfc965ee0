# `make windows`: dist/vyx-utility-<version>-win64.zip with the Windows programs, stripped,
# and a short README.txt. The dialog goes in when this tree builds it.
set(VYX_WINDOWS_ZIP ${PROJECT_SOURCE_DIR}/dist/vyx-utility-${PROJECT_VERSION}-win64.zip)
set(zip_stage ${PROJECT_BINARY_DIR}/zip)

set(zip_programs vyxctl)
set(VYX_ZIP_DIALOG "")
if(TARGET VYX_Utility)
  list(PREPEND zip_programs VYX_Utility)
  set(VYX_ZIP_DIALOG [[
VYX_Utility.exe   the dialog: choose the COM port and the rate the display
                  listens at, press "Port Open", then drive the display from
                  its buttons.
]])
endif()
configure_file(${CMAKE_CURRENT_LIST_DIR}/windows-README.txt.in ${zip_stage}/README.txt
               @ONLY NEWLINE_STYLE CRLF)
set(zip_files README.txt)
set(zip_commands)
foreach(program IN LISTS zip_programs)
  list(APPEND zip_files ${program}.exe)
  list(APPEND zip_commands
    COMMAND ${CMAKE_STRIP} -o ${zip_stage}/${program}.exe $<TARGET_FILE:${program}>)
endforeach()

add_custom_command(OUTPUT ${VYX_WINDOWS_ZIP}
  ${zip_commands}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_SOURCE_DIR}/dist
  COMMAND ${CMAKE_COMMAND} -E rm -f ${VYX_WINDOWS_ZIP}
  COMMAND ${CMAKE_COMMAND} -E tar cf ${VYX_WINDOWS_ZIP} --format=zip ${zip_files}
  WORKING_DIRECTORY ${zip_stage}
  DEPENDS ${zip_programs} ${zip_stage}/README.txt
  COMMENT "Packing ${VYX_WINDOWS_ZIP}"
  VERBATIM)
add_custom_target(windows_zip DEPENDS ${VYX_WINDOWS_ZIP})
