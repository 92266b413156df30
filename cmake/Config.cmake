# The program's identity and install paths, in one generated header that the
# targets needing them link through ni_config.
set(NI_APP_ID "net.notara2inkvale.converter")
set(NI_RESOURCE_INSTALL_DIR "${CMAKE_INSTALL_DATADIR}/notara2inkvale")

configure_file(${CMAKE_CURRENT_LIST_DIR}/Config.hpp.in ${PROJECT_BINARY_DIR}/generated/NIConfig.hpp @ONLY)
add_library(ni_config INTERFACE)
target_include_directories(ni_config INTERFACE ${PROJECT_BINARY_DIR}/generated)
