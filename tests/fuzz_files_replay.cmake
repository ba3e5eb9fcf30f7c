# The level-recording and map-file fuzz targets, replayed over their seed
# corpora and the shipped examples in every test run. The fuzzing build
# itself is tests/fuzz/CMakeLists.txt (QELVO_FUZZ=ON).
foreach(name level_csv bridge_map)
  add_executable(${name}_corpus_replay ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/${name}_fuzz.cpp
                                       ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/CorpusReplayMain.cpp)
  target_link_libraries(${name}_corpus_replay PRIVATE qelvo_tool)
  add_test(NAME ${name}_corpus_replay
           COMMAND ${name}_corpus_replay ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/${name}_corpus ${PROJECT_SOURCE_DIR}/examples)
endforeach()
