set(EXTRA_LIBS laneqml)
