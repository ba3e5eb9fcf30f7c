# The restore fuzz target, replayed over its seed corpus in every test run.
# The fuzzing build itself is tests/fuzz/CMakeLists.txt (QELVO_FUZZ=ON).
add_executable(restore_state_corpus_replay ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/restore_state_fuzz.cpp
                                           ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/CorpusReplayMain.cpp)
target_include_directories(restore_state_corpus_replay PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(restore_state_corpus_replay PRIVATE qelvo_framework)
add_test(NAME restore_state_corpus_replay
         COMMAND restore_state_corpus_replay ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/corpus)

# The bus user-info and OSC packet targets, likewise.
add_executable(bus_user_info_corpus_replay ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/bus_user_info_fuzz.cpp
                                           ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/CorpusReplayMain.cpp)
target_link_libraries(bus_user_info_corpus_replay PRIVATE qelvo_platform PkgConfig::SYSTEMD)
add_test(NAME bus_user_info_corpus_replay
         COMMAND bus_user_info_corpus_replay ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/bus_user_info_corpus)
add_executable(osc_packet_corpus_replay ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/osc_packet_fuzz.cpp
                                        ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/CorpusReplayMain.cpp)
target_link_libraries(osc_packet_corpus_replay PRIVATE qelvo_tool)
add_test(NAME osc_packet_corpus_replay
         COMMAND osc_packet_corpus_replay ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/osc_packet_corpus)
