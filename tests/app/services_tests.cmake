# Tests of the utility's Send File, Compile Dictionary, dictionary download and
# Version Info services. Included from tests/app/CMakeLists.txt.
set(MX_SERVICES_APP_DIR ${PROJECT_SOURCE_DIR}/app)

if(NOT MX_WINDOWS)
  # The logic with no Windows calls in it, natively with sanitizers.
  add_executable(services_logic_tests
    ${CMAKE_CURRENT_LIST_DIR}/services_logic_test.cpp
    ${MX_SERVICES_APP_DIR}/dictionary_check.cpp
    ${MX_SERVICES_APP_DIR}/version_values.cpp)
  target_include_directories(services_logic_tests PRIVATE ${MX_SERVICES_APP_DIR})
  target_link_libraries(services_logic_tests PRIVATE gtest_main)
  add_test(NAME services_logic_tests COMMAND services_logic_tests)

  # Fuzzer for the dictionary checks, when the compiler is clang (libFuzzer):
  #   CC=clang CXX=clang++ cmake -S . -B build/fuzz -G Ninja
  #   cmake --build build/fuzz --target services_dictionary_fuzz
  #   build/fuzz/tests/app/services_dictionary_fuzz -max_total_time=60
  if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    add_executable(services_dictionary_fuzz EXCLUDE_FROM_ALL
      ${CMAKE_CURRENT_LIST_DIR}/services_dictionary_fuzz.cpp
      ${MX_SERVICES_APP_DIR}/dictionary_check.cpp)
    target_include_directories(services_dictionary_fuzz PRIVATE ${MX_SERVICES_APP_DIR})
    target_compile_options(services_dictionary_fuzz PRIVATE -fsanitize=fuzzer)
    target_link_options(services_dictionary_fuzz PRIVATE -fsanitize=fuzzer)
  endif()
endif()

# The dialogs end to end: mxuapp64.exe in a real window under Xvfb against the
# driver host, driven through the GUI harness by run_gui_tests.sh services.
if(MX_WINDOWS AND MX_BITS EQUAL 64 AND EXISTS ${CMAKE_CURRENT_LIST_DIR}/gui_harness.cpp)
  add_executable(services_gui_tests
    ${CMAKE_CURRENT_LIST_DIR}/gui_services_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/gui_harness.cpp)
  target_include_directories(services_gui_tests PRIVATE
    ${PROJECT_SOURCE_DIR}/tests/e2e ${PROJECT_SOURCE_DIR}/sim/driver
    ${PROJECT_SOURCE_DIR}/sim/core ${PROJECT_SOURCE_DIR}/lib ${CMAKE_CURRENT_LIST_DIR})
  target_link_libraries(services_gui_tests PRIVATE gtest_main gdi32)
  target_link_options(services_gui_tests PRIVATE ${MX_TEST_LINK_OPTIONS})
  add_dependencies(services_gui_tests mxuapp64 mxsimctl mxusb_sys)
  add_test(NAME services_gui_tests
    COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/run_gui_tests.sh services ${CMAKE_BINARY_DIR})
  set_tests_properties(services_gui_tests PROPERTIES TIMEOUT 1200 RUN_SERIAL TRUE)
endif()
