set(EXTRA_SOURCES ${dir}/QmlStage.cpp ${dir}/QmlStage.h ${dir}/FakeManager.cpp ${dir}/FakeManager.h ${dir}/FakeLink.h
  ${dir}/XvfbServer.cpp ${dir}/XvfbServer.h)
set(EXTRA_LIBS laneqml)
set(TIMEOUT 90)
