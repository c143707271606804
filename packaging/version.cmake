# The SDK's one version number is the project VERSION. This writes it into
# <build>/generated/mx_version.h for the resource scripts of every binary
# (MX_VERSION_HEADER: add it, and version.rc, to a .rc file's OBJECT_DEPENDS so that a new
# version rebuilds the resource).
if(NOT PROJECT_VERSION_PATCH)
  set(PROJECT_VERSION_PATCH 0)
endif()
set(MX_GENERATED_DIR ${PROJECT_BINARY_DIR}/generated)
set(MX_VERSION_HEADER ${MX_GENERATED_DIR}/mx_version.h)
configure_file(${CMAKE_CURRENT_LIST_DIR}/version.h.in ${MX_VERSION_HEADER} @ONLY)
# version.rc (packaging/) is included by the resource scripts of the library and
# the utility.
include_directories(${MX_GENERATED_DIR} ${CMAKE_CURRENT_LIST_DIR})
