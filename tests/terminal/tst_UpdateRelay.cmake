set(EXTRA_SOURCES ${CMAKE_CURRENT_LIST_DIR}/../backend/BackendRig.cpp ${CMAKE_CURRENT_LIST_DIR}/../backend/BackendRig.h)
set(EXTRA_LIBS bosimcore)
