# Every directory below globs its own sources, so adding a class or a test
# needs no edit of a shared list.

# lane_add_test(<name> SOURCES <files...> [LIBS <libs...>] [ENV <VAR=value...>] [TIMEOUT <s>])
function(lane_add_test name)
  cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBS;ENV" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE lanecore testsupport Qt5::Test ${T_LIBS})
  add_test(NAME ${name} COMMAND ${name})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  lane_test_env(env ${name})
  set_tests_properties(${name} PROPERTIES TIMEOUT ${T_TIMEOUT}
    ENVIRONMENT "${env};${T_ENV}")
endfunction()

# lane_test_env(<var> <name>): the environment of one test, benchmark or fuzz target under
# CTest. Each has a home of its own in the build folder: nothing it runs reads or writes the
# user's settings (the back-office API key among them) or caches.
function(lane_test_env var name)
  set(home "${PROJECT_BINARY_DIR}/test-home/${name}")
  file(MAKE_DIRECTORY "${home}")
  set(${var} "${LANE_TEST_ENV};HOME=${home};XDG_CONFIG_HOME=${home}/.config;XDG_CACHE_HOME=${home}/.cache"
    PARENT_SCOPE)
endfunction()

# Environment of every test process. The time service stand-ins come first in PATH:
# no test or benchmark reaches the machine's own timedatectl or systemctl.
set(LANE_TEST_ENV
  "QT_QPA_PLATFORM=offscreen"
  "QT_QUICK_BACKEND=software"
  "LANE_SOURCE_DIR=${PROJECT_SOURCE_DIR}"
  "LANE_BINARY_DIR=${PROJECT_BINARY_DIR}"
  "PATH=${PROJECT_SOURCE_DIR}/tools/timesim:$ENV{PATH}"
  "LANE_TIME_DIR=${PROJECT_BINARY_DIR}/timesim")
if(LANE_SANITIZE)
  list(APPEND LANE_TEST_ENV
    "ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:strict_string_checks=1"
    "LSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/tests/lsan.supp:print_suppressions=0"
    "UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1")
endif()
