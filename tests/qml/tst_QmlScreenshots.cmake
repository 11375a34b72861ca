set(EXTRA_SOURCES ${dir}/QmlStage.cpp ${dir}/QmlStage.h ${dir}/FakeManager.h)
set(EXTRA_LIBS laneqml)
set(TIMEOUT 90)
# The code under test is QML: Qt Quick's own image and texture caches outlive
# the test, so leak checks would only report them. libxkbcommon reads past a
# string end that strict string checks reject.
if(LANE_SANITIZE)
  set(EXTRA_ENV "ASAN_OPTIONS=detect_leaks=0:abort_on_error=0")
endif()
