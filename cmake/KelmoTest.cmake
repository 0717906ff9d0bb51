# kelmo_add_test(<name> SOURCES <files>... LIBRARIES <targets>... [QT])
# One GoogleTest program, each of its tests its own ctest entry. QT gives it a
# QApplication (offscreen unless QT_QPA_PLATFORM says otherwise) and the Qt test support.
include(GoogleTest)

function(kelmo_add_test name)
  cmake_parse_arguments(PARSE_ARGV 1 arg "QT" "" "SOURCES;LIBRARIES")
  add_executable(${name} ${arg_SOURCES})
  target_link_libraries(${name} PRIVATE ${arg_LIBRARIES} kelmo_test_text)
  if(arg_QT)
    target_link_libraries(${name} PRIVATE kelmo_test_support)
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60
                         PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
  else()
    target_link_libraries(${name} PRIVATE GTest::gtest_main)
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60)
  endif()
endfunction()
