# The Windows builds' tests, included from tests/CMakeLists.txt. The check of
# the built exe runs on the build machine; when there is a cross-compiling
# emulator (wine64), the unit tests and the end-to-end scenarios run under it.
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
