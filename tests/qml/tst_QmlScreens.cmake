set(EXTRA_SOURCES ${dir}/QmlStage.cpp ${dir}/QmlStage.h ${dir}/FakeManager.cpp ${dir}/FakeManager.h ${dir}/FakeLink.h)
set(EXTRA_LIBS laneqml)
set(TIMEOUT 60)
