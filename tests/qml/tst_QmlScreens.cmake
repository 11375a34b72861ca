set(EXTRA_SOURCES ${dir}/QmlStage.cpp ${dir}/QmlStage.h ${dir}/FakeManager.h)
set(EXTRA_LIBS laneqml)
set(TIMEOUT 60)
# The code under test is QML: Qt Quick's own image and texture caches outlive
# the test, so leak checks would only report them.
if(LANE_SANITIZE)
  set(EXTRA_ENV "ASAN_OPTIONS=detect_leaks=0:abort_on_error=0:strict_string_checks=1")
endif()
