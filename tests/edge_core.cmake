# Edge tests of the audio and process boundaries that run the built qelvo
# program or load the built bundles.
foreach(test edge_audio_levels_test)
  if(TARGET ${test})
    # libsndfile for the audio files the test writes and reads.
    target_link_libraries(${test} PRIVATE qelvo_tool)
    target_compile_definitions(${test} PRIVATE QELVO_TOOL="$<TARGET_FILE:qelvo>"
                                               QELVO_HAVE_BUNDLES=$<BOOL:$<TARGET_EXISTS:AUQelvoBS7>>)
    add_dependencies(${test} qelvo)
    if(TARGET AUQelvoBS7)
      add_dependencies(${test} AUQelvoBS7)
    endif()
  endif()
endforeach()
