# The SDK as `cmake --install` lays it out. Each Windows tree installs its own
# bitness; installing the x64 and the x86 tree into one prefix gives:
#
#   include/mxusbd.h
#   bin/x64/   mxusbd64.dll, mxuapp64.exe        bin/x86/  mxusbd.dll
#   lib/x64/   libmxusbd64.dll.a (MinGW), mxusbd64.lib (Visual C++), mxusbd64.def
#   lib/x86/   libmxusbd.dll.a, mxusbd.lib, mxusbd.def
#   lib/cmake/MorvoxUsb/   find_package(MorvoxUsb CONFIG): MorvoxUsb::mxusbd
#   sim/       mxusb.sys, mxsimctl.exe, README.txt (the simulated synthesizer)
#   examples/  speak.c and a CMakeLists.txt that uses the package
#   docs/      guide.md, README.md
#
# Test programs, benchmarks and build files are never installed.
if(NOT MX_WINDOWS)
  return()
endif()
include(CMakePackageConfigHelpers)

set(MX_SDK_CMAKE_DIR lib/cmake/MorvoxUsb)
set(_mx_src ${PROJECT_SOURCE_DIR})

# The library, its header, its .def and both import libraries. Consumers see
# one name in both bitnesses: MorvoxUsb::mxusbd.
set_target_properties(${MXUSBD_TARGET} PROPERTIES EXPORT_NAME mxusbd)
install(TARGETS ${MXUSBD_TARGET} EXPORT MorvoxUsbTargets
  RUNTIME DESTINATION bin/${MX_ARCH}
  ARCHIVE DESTINATION lib/${MX_ARCH})
install(FILES ${_mx_src}/lib/mxusbd.h DESTINATION include)
install(FILES ${_mx_src}/lib/${MXUSBD_TARGET}.def DESTINATION lib/${MX_ARCH})

# The Visual C++ import library, made from the .def. The 32-bit .def lists
# the stdcall-decorated names that a Visual C++ caller references
# (_USBMX_WriteByte@4); -k makes each bind to the undecorated export.
find_program(MX_LLVM_DLLTOOL NAMES llvm-dlltool llvm-dlltool-14)
if(MX_LLVM_DLLTOOL)
  set(_mx_msvc_lib ${CMAKE_ARCHIVE_OUTPUT_DIRECTORY}/${MXUSBD_TARGET}.lib)
  if(MX_BITS EQUAL 64)
    set(_mx_dlltool_args -m i386:x86-64)
  else()
    set(_mx_dlltool_args -m i386 -k)
  endif()
  add_custom_command(OUTPUT ${_mx_msvc_lib}
    COMMAND ${MX_LLVM_DLLTOOL} ${_mx_dlltool_args}
            -d ${_mx_src}/lib/${MXUSBD_TARGET}.def -l ${_mx_msvc_lib}
    DEPENDS ${_mx_src}/lib/${MXUSBD_TARGET}.def
    COMMENT "Visual C++ import library ${MXUSBD_TARGET}.lib"
    VERBATIM)
  add_custom_target(mxusbd_msvc_implib ALL DEPENDS ${_mx_msvc_lib})
  install(FILES ${_mx_msvc_lib} DESTINATION lib/${MX_ARCH})
else()
  message(WARNING "llvm-dlltool not found: no Visual C++ import library "
                  "(bash scripts/setup.sh installs it)")
endif()

# The CMake package. Both trees install the same config and version file and
# one target file each; the config picks the consumer's bitness.
install(EXPORT MorvoxUsbTargets NAMESPACE MorvoxUsb::
  DESTINATION ${MX_SDK_CMAKE_DIR} FILE MorvoxUsbTargets-${MX_ARCH}.cmake)
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/MorvoxUsbConfig.cmake.in
  ${PROJECT_BINARY_DIR}/packaging/MorvoxUsbConfig.cmake
  INSTALL_DESTINATION ${MX_SDK_CMAKE_DIR})
# ARCH_INDEPENDENT: the one version file serves 32-bit and 64-bit consumers.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/packaging/MorvoxUsbConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion ARCH_INDEPENDENT)
install(FILES ${PROJECT_BINARY_DIR}/packaging/MorvoxUsbConfig.cmake
              ${PROJECT_BINARY_DIR}/packaging/MorvoxUsbConfigVersion.cmake
        DESTINATION ${MX_SDK_CMAKE_DIR})

if(NOT MX_BITS EQUAL 64)
  return()
endif()
# The 64-bit tree adds what exists once: the utility beside its DLL, the
# simulated synthesizer's driver host, the examples and the documents.
install(TARGETS mxuapp64 RUNTIME DESTINATION bin/x64)
if(TARGET mxusb_sys AND TARGET mxsimctl)
  install(PROGRAMS $<TARGET_FILE:mxusb_sys> $<TARGET_FILE:mxsimctl> DESTINATION sim)
  install(FILES ${CMAKE_CURRENT_LIST_DIR}/sim-README.txt DESTINATION sim RENAME README.txt)
endif()
install(FILES ${_mx_src}/examples/speak.c ${CMAKE_CURRENT_LIST_DIR}/examples/CMakeLists.txt
        DESTINATION examples)
install(FILES ${_mx_src}/docs/guide.md ${_mx_src}/README.md DESTINATION docs)
