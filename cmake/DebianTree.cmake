# Run by CPack in the staging tree before the .deb is built, to give it Debian's
# conventions: programs stripped as dh_strip does (debug symbols and the compiler's
# .comment notes out), manual pages compressed with gzip -9n (man reads them either
# way), and /usr/share/doc/<package>/copyright and changelog.gz.
set(root "${CPACK_TEMPORARY_INSTALL_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX}")
if(NOT IS_DIRECTORY "${root}")
  message(FATAL_ERROR "DebianTree: no staging tree at ${root}")
endif()

file(GLOB programs "${root}/bin/*")
foreach(program IN LISTS programs)
  file(READ "${program}" magic LIMIT 4 HEX)
  if(NOT magic STREQUAL "7f454c46")  # not an ELF file: a script
    continue()
  endif()
  execute_process(
    COMMAND "${CPACK_VYX_STRIP}" --remove-section=.comment --remove-section=.note
            --strip-unneeded "${program}"
    RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "DebianTree: strip ${program} failed")
  endif()
endforeach()

file(GLOB_RECURSE pages "${root}/share/man/*.[1-9]")
foreach(page IN LISTS pages)
  execute_process(COMMAND gzip -9nf "${page}" RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "DebianTree: gzip ${page} failed")
  endif()
endforeach()

set(doc "${root}/share/doc/${CPACK_PACKAGE_NAME}")
file(MAKE_DIRECTORY "${doc}")
file(COPY_FILE "${CPACK_VYX_SOURCE_DIR}/cmake/copyright" "${doc}/copyright")
# One entry for the version packaged; its date honours SOURCE_DATE_EPOCH, so that two
# builds of one commit give the same package.
string(TIMESTAMP date "%a, %d %b %Y %H:%M:%S +0000" UTC)
file(WRITE "${doc}/changelog"
  "${CPACK_PACKAGE_NAME} (${CPACK_PACKAGE_VERSION}) stable; urgency=medium\n\n"
  "  * Release ${CPACK_PACKAGE_VERSION}.\n\n"
  " -- ${CPACK_DEBIAN_PACKAGE_MAINTAINER}  ${date}\n")
execute_process(COMMAND gzip -9nf "${doc}/changelog" RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "DebianTree: gzip changelog failed")
endif()
file(CHMOD "${doc}/copyright" "${doc}/changelog.gz"
  PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
