# The restore fuzz target, replayed over its seed corpus in every test run.
# The fuzzing build itself is tests/fuzz/CMakeLists.txt (QELVO_FUZZ=ON).
add_executable(restore_state_corpus_replay ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/restore_state_fuzz.cpp
                                           ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/CorpusReplayMain.cpp)
target_include_directories(restore_state_corpus_replay PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(restore_state_corpus_replay PRIVATE qelvo_framework)
add_test(NAME restore_state_corpus_replay
         COMMAND restore_state_corpus_replay ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/corpus)
