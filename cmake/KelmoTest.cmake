# kelmo_add_test(<name> [QT] [LEVEL <level>] SOURCES <files>... LIBRARIES <targets>...
#                [SLOW <suite.test>...])
# One GoogleTest program, each of its tests its own ctest entry named after the folder it
# tests: "<folder>.<suite>.<test>". QT gives it a QApplication (offscreen unless
# QT_QPA_PLATFORM says otherwise) and the Qt test support.
#
# Every test carries a label for its level, which the "fast" test preset selects on:
#   core     the libraries without Qt
#   widgets  the libraries with Qt and the window, offscreen
#   program  the built programs, run as a user runs them
# LEVEL defaults to widgets with QT, core without. The tests named in SLOW (a second or
# more: real time waited for on purpose) carry the label "slow" as well, and stay out of
# the fast lane.
include(GoogleTest)

# A cross build's tests run under an emulator, whose C library cannot read the host's
# locales: they are written in the host's byte order. The locales the tests use are made
# again in the target's byte order, under the build tree, and found through LOCPATH.
if(CMAKE_CROSSCOMPILING AND NOT TARGET kelmo_test_locales)
  set(KELMO_TEST_LOCPATH ${PROJECT_BINARY_DIR}/locale)
  if(CMAKE_CXX_BYTE_ORDER STREQUAL "BIG_ENDIAN")
    set(byte_order --big-endian)
  else()
    set(byte_order --little-endian)
  endif()
  set(made)
  foreach(locale IN ITEMS "ja_JP SHIFT_JIS ja_JP.SJIS" "ja_JP UTF-8 ja_JP.UTF-8" "C UTF-8 C.UTF-8")
    separate_arguments(locale UNIX_COMMAND "${locale}")
    list(GET locale 0 source)
    list(GET locale 1 charmap)
    list(GET locale 2 name)
    # Shift_JIS is not ASCII-compatible, which localedef warns of and is not asked here.
    add_custom_command(OUTPUT ${KELMO_TEST_LOCPATH}/${name}/LC_CTYPE
                       COMMAND ${CMAKE_COMMAND} -E make_directory ${KELMO_TEST_LOCPATH}
                       COMMAND localedef ${byte_order} --no-warnings=ascii -i ${source}
                               -f ${charmap} ${KELMO_TEST_LOCPATH}/${name}
                       COMMENT "Making the ${name} locale for the tests (${byte_order})")
    list(APPEND made ${KELMO_TEST_LOCPATH}/${name}/LC_CTYPE)
  endforeach()
  add_custom_target(kelmo_test_locales ALL DEPENDS ${made})
endif()

function(kelmo_add_test name)
  cmake_parse_arguments(PARSE_ARGV 1 arg "QT" "LEVEL" "SOURCES;LIBRARIES;SLOW")
  cmake_path(GET CMAKE_CURRENT_SOURCE_DIR FILENAME folder)
  if(NOT arg_LEVEL)
    if(arg_QT)
      set(arg_LEVEL widgets)
    else()
      set(arg_LEVEL core)
    endif()
  endif()
  add_executable(${name} ${arg_SOURCES})
  target_link_libraries(${name} PRIVATE ${arg_LIBRARIES} kelmo_test_text)
  set(properties LABELS ${arg_LEVEL})
  if(TARGET kelmo_test_locales)
    add_dependencies(${name} kelmo_test_locales)
    list(APPEND properties ENVIRONMENT_MODIFICATION "LOCPATH=set:${KELMO_TEST_LOCPATH}")
  endif()
  if(arg_QT)
    target_link_libraries(${name} PRIVATE kelmo_test_support)
    list(APPEND properties ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
  else()
    target_link_libraries(${name} PRIVATE GTest::gtest_main)
  endif()
  gtest_discover_tests(${name} TEST_PREFIX "${folder}." DISCOVERY_TIMEOUT 60
                       PROPERTIES ${properties})
  if(arg_SLOW)
    # Read by ctest after the discovered tests; a name that is not among them stops the run.
    list(TRANSFORM arg_SLOW PREPEND "${folder}.")
    set(slow_file ${CMAKE_CURRENT_BINARY_DIR}/${name}_slow.cmake)
    file(CONFIGURE OUTPUT ${slow_file} @ONLY CONTENT [[
foreach(test IN ITEMS @arg_SLOW@)
  list(FIND @name@_TESTS ${test} at)
  if(at EQUAL -1)
    message(FATAL_ERROR "${test}, listed as slow, is not a test of @name@")
  endif()
endforeach()
set_tests_properties(@arg_SLOW@ PROPERTIES LABELS "@arg_LEVEL@;slow")
]])
    set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${slow_file})
  endif()
endfunction()
