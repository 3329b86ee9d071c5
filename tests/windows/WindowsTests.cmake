# The Windows builds' tests, included from tests/CMakeLists.txt. The check of
# the built exe runs on the build machine; when there is a cross-compiling
# emulator (wine64), the unit tests and the end-to-end scenarios run under it;
# a build on Windows runs the unit tests directly.
# Debian's own python3 has python3-pefile; a python3 earlier on PATH may not.
find_program(KORRIND_PYTHON3 python3 HINTS /usr/bin)

if(KORRIND_PYTHON3)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(exe_machine i386)
  else()
    set(exe_machine amd64)
  endif()
  add_test(NAME windows_exe_check
           COMMAND ${KORRIND_PYTHON3} ${CMAKE_CURRENT_SOURCE_DIR}/windows/check_windows_exe.py
                   --machine ${exe_machine} $<TARGET_FILE:korrind_bootloader_update>)
endif()

if(NOT CMAKE_CROSSCOMPILING)
  # Built on Windows: the unit tests run there. The end-to-end scenarios below
  # need Wine.
  gtest_discover_tests(unit_tests DISCOVERY_MODE PRE_TEST NO_PRETTY_VALUES)
  return()
endif()
if(NOT CMAKE_CROSSCOMPILING_EMULATOR)
  return()
endif()

# One Wine prefix for all tests, made once by the first test, and one Wine
# server for the run, stopped by the last; no display, no Mono or Gecko.
set(KORRIND_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
set(wine_environment WINEPREFIX=${KORRIND_WINEPREFIX} WINEDEBUG=-all "WINEDLLOVERRIDES=mscoree,mshtml=")
set(no_display DISPLAY=unset: WAYLAND_DISPLAY=unset:)
get_filename_component(wine_dir ${CMAKE_CROSSCOMPILING_EMULATOR} DIRECTORY)

add_test(NAME wine_prefix
         COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/windows/init-wine-prefix
                 ${CMAKE_CROSSCOMPILING_EMULATOR} ${KORRIND_WINEPREFIX})
add_test(NAME wine_server_stop COMMAND ${CMAKE_COMMAND} -E env WINEPREFIX=${KORRIND_WINEPREFIX}
                                       ${wine_dir}/wineserver -k)
set_tests_properties(wine_prefix PROPERTIES FIXTURES_SETUP wine TIMEOUT 300
                     ENVIRONMENT "${wine_environment}" ENVIRONMENT_MODIFICATION "${no_display}")
set_tests_properties(wine_server_stop PROPERTIES FIXTURES_CLEANUP wine)

# The whole unit test program in one Wine start.
add_test(NAME unit_tests COMMAND unit_tests)
set_tests_properties(unit_tests PROPERTIES FIXTURES_REQUIRED wine TIMEOUT 120
                     ENVIRONMENT "${wine_environment}" ENVIRONMENT_MODIFICATION "${no_display}")

# Stand-ins for setupapi.dll, hid.dll and the updater tool, and a program that
# holds a device open; all in their own folder, so that nothing else loads them.
set(standin_dir ${CMAKE_BINARY_DIR}/standin)
add_library(standin_setupapi SHARED windows/standin_setupapi.cpp windows/standin_setupapi.def)
add_library(standin_hid SHARED windows/standin_hid.cpp windows/standin_hid.def)
target_link_libraries(standin_hid PRIVATE ntdll)
set_target_properties(standin_setupapi PROPERTIES OUTPUT_NAME setupapi)
set_target_properties(standin_hid PROPERTIES OUTPUT_NAME hid)
add_executable(standin_updater windows/standin_updater.cpp)
set_target_properties(standin_updater PROPERTIES OUTPUT_NAME lighthouse_watchman_update)
add_executable(hold_device windows/hold_device.cpp)
set_target_properties(standin_setupapi standin_hid standin_updater hold_device PROPERTIES
                      PREFIX "" RUNTIME_OUTPUT_DIRECTORY ${standin_dir}
                      ARCHIVE_OUTPUT_DIRECTORY ${standin_dir}/lib)

# The scenarios of a whole run. Those that wait out a 60-attempt poll take a
# minute each; they run beside the others.
set(e2e_scenarios up_to_date needs_flash unsupported_hardware no_device unusable_interfaces
                  enumeration_fails no_device_set cannot_change_mode cannot_resume
                  wine_dlls_no_device)
foreach(scenario IN LISTS e2e_scenarios)
  add_test(NAME wine_e2e_${scenario}
           COMMAND ${KORRIND_PYTHON3} ${CMAKE_CURRENT_SOURCE_DIR}/windows/e2e_windows.py
                   --wine ${CMAKE_CROSSCOMPILING_EMULATOR}
                   --exe $<TARGET_FILE:korrind_bootloader_update> --standins ${standin_dir}
                   --work ${CMAKE_CURRENT_BINARY_DIR}/e2e ${scenario})
  set_tests_properties(wine_e2e_${scenario} PROPERTIES FIXTURES_REQUIRED wine TIMEOUT 180
                       ENVIRONMENT "${wine_environment}" ENVIRONMENT_MODIFICATION "${no_display}")
endforeach()
set_tests_properties(wine_e2e_cannot_change_mode wine_e2e_cannot_resume PROPERTIES COST 100)
