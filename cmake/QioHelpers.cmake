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

# The sanitizer runtimes leave symbols undefined in a shared object until the
# executable brings them, so -Wl,--no-undefined is only for builds without a
# sanitizer, whether it comes from our options or from the user's own flags.
set(_qio_all_flags "${CMAKE_C_FLAGS} ${CMAKE_CXX_FLAGS} ${CMAKE_SHARED_LINKER_FLAGS} ${CMAKE_MODULE_LINKER_FLAGS}")
string(TOUPPER "${CMAKE_BUILD_TYPE}" _qio_build_type)
if(_qio_build_type)
  string(APPEND _qio_all_flags " ${CMAKE_CXX_FLAGS_${_qio_build_type}} ${CMAKE_SHARED_LINKER_FLAGS_${_qio_build_type}}")
endif()
if(QIO_SANITIZE OR QIO_TSAN OR _qio_all_flags MATCHES "-fsanitize")
  set(QIO_SANITIZED_BUILD TRUE)
else()
  set(QIO_SANITIZED_BUILD FALSE)
endif()

# qio_no_undefined(target): every symbol of a deliverable must resolve at link
# time (a missing platform function shows at build, not at dlopen).
function(qio_no_undefined target)
  if(NOT QIO_SANITIZED_BUILD)
    target_link_options(${target} PRIVATE -Wl,--no-undefined)
  endif()
endfunction()
