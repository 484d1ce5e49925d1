# qio_add_gtest(NAME SOURCES src... LIBS lib... [LABELS l...])
# One GoogleTest executable; every test case becomes one CTest test, so the
# suite runs in parallel and each case gets a process (and target) of its own.
function(qio_add_gtest name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gmock GTest::gtest_main Threads::Threads)
  gtest_discover_tests(${name}
    DISCOVERY_TIMEOUT 60
    PROPERTIES LABELS "${ARG_LABELS}" TIMEOUT 120
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
endfunction()

find_package(Threads REQUIRED)
