# zarvik-make-replays: writes demo replays, or a small fuzz seed corpus, with
# the test replay writer.
add_executable(zarvik-make-replays ${CMAKE_CURRENT_SOURCE_DIR}/make_replays.cpp)
target_link_libraries(zarvik-make-replays PRIVATE zarvik_replay_writer)
