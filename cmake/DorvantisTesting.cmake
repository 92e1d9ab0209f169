include(GoogleTest)

# The tests labelled `threads` (the program's own threads) also run under
# ThreadSanitizer, in a build that makes only this target
# (DORVANTIS_SANITIZE=thread bash scripts/test.sh): each such binary joins it.
add_custom_target(threads_tests)

# dorvantis_add_gtest(<name> SOURCES ... [LIBS ...] [TIMEOUT s] [LABELS ...]
#                     [FIXTURES ...] [ENVIRONMENT VAR=value ...] [QT])
# One test binary; every discovered case gets a TIMEOUT so that a forgotten
# modal box or a silent server fails instead of hanging the run. QT links the
# project's test main, which starts a QApplication on the offscreen platform
# unless the caller chose a platform. A binary labelled `threads` joins the
# target threads_tests.
function(dorvantis_add_gtest name)
  cmake_parse_arguments(T "QT" "TIMEOUT" "SOURCES;LIBS;LABELS;FIXTURES;ENVIRONMENT" ${ARGN})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 60)
  endif()
  add_executable(${name} ${T_SOURCES})
  dorvantis_target_defaults(${name})
  if(T_QT)
    target_link_libraries(${name} PRIVATE dorvantis_test_main)
  else()
    target_link_libraries(${name} PRIVATE GTest::gtest_main)
  endif()
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock Qt6::Core)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests/support)
  target_compile_options(${name} PRIVATE -include ${PROJECT_SOURCE_DIR}/tests/support/QtPrinters.h)
  set(props TIMEOUT ${T_TIMEOUT})
  if(T_LABELS)
    list(APPEND props LABELS "${T_LABELS}")
  endif()
  if("threads" IN_LIST T_LABELS)
    add_dependencies(threads_tests ${name})
    if("tds_server" IN_LIST T_FIXTURES)
      add_dependencies(threads_tests tds-server)  # the fixture's server
    endif()
  endif()
  if(T_FIXTURES)
    list(APPEND props FIXTURES_REQUIRED "${T_FIXTURES}")
  endif()
  if(T_ENVIRONMENT)
    # gtest_discover_tests (CMake 3.25) splits a multi-variable ENVIRONMENT
    # property apart, so the test command sets the variables itself; the same
    # command runs the discovery.
    set_property(TARGET ${name} PROPERTY CROSSCOMPILING_EMULATOR ${CMAKE_COMMAND} -E env ${T_ENVIRONMENT})
  endif()
  gtest_discover_tests(${name}
    DISCOVERY_TIMEOUT 60
    DISCOVERY_MODE PRE_TEST
    PROPERTIES ${props})
endfunction()
