# Run by CPack on the staged files before the package is made: strip leaves the
# compiler's .comment section in, which a Debian package doesn't carry.
file(GLOB binaries "${CPACK_TEMPORARY_INSTALL_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX}/bin/*")
if(NOT binaries)
  message(FATAL_ERROR "No programs staged under ${CPACK_TEMPORARY_INSTALL_DIRECTORY}")
endif()
foreach(binary IN LISTS binaries)
  execute_process(COMMAND objcopy --remove-section=.comment "${binary}" COMMAND_ERROR_IS_FATAL ANY)
endforeach()
