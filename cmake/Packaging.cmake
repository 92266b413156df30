# Installs the man pages, shell completions, AppStream metainfo and Debian
# copyright and changelog, and sets up the Debian package:
#   cmake --build build/release && cd build/release && cpack -G DEB
# In a release build the validators run as tests.

set(NI_HOMEPAGE "https://notara2inkvale.example.org" CACHE STRING "Home page named by the package and the metainfo")
set(NI_MAINTAINER "The notara2inkvale authors <maintainers@notara2inkvale.example.org>")
# The day the version in project() was released; change both together.
set(NI_RELEASE_DATE "2026-12-07")
execute_process(COMMAND date -u -R -d "${NI_RELEASE_DATE} 12:00"
  OUTPUT_VARIABLE NI_RELEASE_DATE_RFC2822 OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)

# Distributions build with these; a package without them draws lintian's hardening tags.
if(NOT NI_SANITIZE AND NOT NI_FUZZ)
  target_compile_options(ni_build_flags INTERFACE
    $<$<NOT:$<CONFIG:Debug>>:-D_FORTIFY_SOURCE=2> -fstack-protector-strong)
  target_link_options(ni_build_flags INTERFACE -Wl,-z,relro,-z,now)
endif()

set(NI_PACKAGING_DIR ${PROJECT_SOURCE_DIR}/packaging)
set(NI_PACKAGING_OUT ${PROJECT_BINARY_DIR}/packaging)
configure_file(${NI_PACKAGING_DIR}/${NI_APP_ID}.metainfo.xml.in ${NI_PACKAGING_OUT}/${NI_APP_ID}.metainfo.xml @ONLY)
configure_file(${NI_PACKAGING_DIR}/copyright.in ${NI_PACKAGING_OUT}/copyright @ONLY)
configure_file(${NI_PACKAGING_DIR}/changelog.in ${NI_PACKAGING_OUT}/changelog @ONLY)

# Debian keeps man pages and changelogs compressed; -n keeps the bytes reproducible.
set(NI_MAN_PAGES notara2inkvale-cli.1)
if(NI_BUILD_APP)
  list(APPEND NI_MAN_PAGES notara2inkvale.1)
endif()
set(NI_COMPRESSED)
foreach(source IN ITEMS ${NI_MAN_PAGES} changelog)
  if(source STREQUAL "changelog")
    set(input ${NI_PACKAGING_OUT}/changelog)
  else()
    set(input ${NI_PACKAGING_DIR}/man/${source})
  endif()
  add_custom_command(OUTPUT ${NI_PACKAGING_OUT}/${source}.gz
    COMMAND gzip -9n -c ${input} > ${NI_PACKAGING_OUT}/${source}.gz
    DEPENDS ${input}
    COMMENT "Compressing ${source}")
  list(APPEND NI_COMPRESSED ${NI_PACKAGING_OUT}/${source}.gz)
endforeach()
add_custom_target(ni_packaging_files ALL DEPENDS ${NI_COMPRESSED})

list(TRANSFORM NI_MAN_PAGES APPEND .gz OUTPUT_VARIABLE NI_MAN_PAGES_GZ)
list(TRANSFORM NI_MAN_PAGES_GZ PREPEND ${NI_PACKAGING_OUT}/)
install(FILES ${NI_MAN_PAGES_GZ} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${NI_PACKAGING_OUT}/copyright ${NI_PACKAGING_OUT}/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES ${NI_PACKAGING_DIR}/lintian/notara2inkvale DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides)

# Each shell looks for completions under the command's name in a folder of its own.
set(NI_COMPLETION_DIR ${NI_PACKAGING_DIR}/completions)
set(NI_COMMANDS notara2inkvale-cli)
if(NI_BUILD_APP)
  list(APPEND NI_COMMANDS notara2inkvale)
endif()
foreach(command IN LISTS NI_COMMANDS)
  install(FILES ${NI_COMPLETION_DIR}/notara2inkvale.bash
    DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME ${command})
  install(FILES ${NI_COMPLETION_DIR}/${command}.fish DESTINATION ${CMAKE_INSTALL_DATADIR}/fish/vendor_completions.d)
endforeach()
install(FILES ${NI_COMPLETION_DIR}/_notara2inkvale DESTINATION ${CMAKE_INSTALL_DATADIR}/zsh/vendor-completions)

if(NI_BUILD_APP)
  install(FILES ${NI_PACKAGING_OUT}/${NI_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
endif()

set(CPACK_PACKAGE_NAME notara2inkvale)
set(CPACK_PACKAGE_VENDOR "The notara2inkvale authors")
set(CPACK_PACKAGE_CONTACT "${NI_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "converter from Notara export folders to Inkvale sheets")
set(CPACK_PACKAGE_DESCRIPTION "Turns the export folder of the notes application Notara into sheets of the
writing application Inkvale: every note becomes a sheet with its title,
paragraphs, tags, picture and dates, and notes in sub-folders keep their
folders. The export is only ever read.

This package holds the desktop window, notara2inkvale, and the command-line
converter, notara2inkvale-cli.")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${NI_HOMEPAGE}")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/package)
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/PackageBinaries.cmake)
include(CPack)

# The ecosystem's own validators, and the package used as installed. Only in an
# ordinary build: packaging sanitized programs makes no sense.
if(NI_BUILD_TESTS AND NI_BUILD_APP AND NOT NI_SANITIZE)
  set(NI_PACKAGING_TESTS ${PROJECT_SOURCE_DIR}/tests/packaging)
  add_test(NAME packaging.ManPagesLint
    COMMAND ${NI_PACKAGING_TESTS}/quiet.sh mandoc -T lint notara2inkvale-cli.1 notara2inkvale.1
    WORKING_DIRECTORY ${NI_PACKAGING_DIR}/man)
  add_test(NAME packaging.DesktopEntryValidates
    COMMAND ${NI_PACKAGING_TESTS}/quiet.sh desktop-file-validate ${PROJECT_SOURCE_DIR}/resources/${NI_APP_ID}.desktop)
  add_test(NAME packaging.MetainfoValidates
    COMMAND appstreamcli validate --no-net --strict --pedantic ${NI_PACKAGING_OUT}/${NI_APP_ID}.metainfo.xml)

  execute_process(COMMAND dpkg --print-architecture OUTPUT_VARIABLE NI_DEB_ARCH OUTPUT_STRIP_TRAILING_WHITESPACE)
  set(NI_DEB ${CPACK_PACKAGE_DIRECTORY}/${CPACK_PACKAGE_NAME}_${PROJECT_VERSION}_${NI_DEB_ARCH}.deb)
  set(NI_DEB_ROOT ${PROJECT_BINARY_DIR}/test-scratch/installed-package)
  add_test(NAME packaging.DebBuilds COMMAND ${CMAKE_CPACK_COMMAND} -G DEB --config CPackConfig.cmake
    WORKING_DIRECTORY ${PROJECT_BINARY_DIR})
  set_tests_properties(packaging.DebBuilds PROPERTIES FIXTURES_SETUP ni_deb)
  add_test(NAME packaging.DebLintianClean
    COMMAND lintian --fail-on error,warning,info,pedantic --pedantic --display-info --info ${NI_DEB})
  add_test(NAME packaging.DebInstallsAndConverts
    COMMAND ${NI_PACKAGING_TESTS}/installed-package.sh ${NI_DEB} ${NI_DEB_ROOT}
      "${PROJECT_SOURCE_DIR}/examples/Sample Export" ${PROJECT_VERSION})
  set_tests_properties(packaging.DebLintianClean packaging.DebInstallsAndConverts PROPERTIES FIXTURES_REQUIRED ni_deb)
  set_tests_properties(packaging.DebInstallsAndConverts PROPERTIES FIXTURES_SETUP ni_deb_root)
  add_test(NAME packaging.CompletionsComplete COMMAND ${NI_PACKAGING_TESTS}/completions.sh ${NI_DEB_ROOT})
  set_tests_properties(packaging.CompletionsComplete PROPERTIES FIXTURES_REQUIRED ni_deb_root)
endif()
