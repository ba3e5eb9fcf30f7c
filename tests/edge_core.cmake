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

# A host program exporting the plain names of the value library's constants
# (-rdynamic), loading a plug-in through the loader and, when the LV2 tools
# are there, through lilv.
if(TARGET edge_process_symbols_test)
  target_sources(edge_process_symbols_test PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/support/HostSymbolClash.cpp)
  target_link_options(edge_process_symbols_test PRIVATE -rdynamic)
  if(TARGET AUQelvoBS7)
    add_dependencies(edge_process_symbols_test AUQelvoBS7)
  endif()
  pkg_check_modules(LILV QUIET IMPORTED_TARGET lilv-0)
  if(LILV_FOUND AND TARGET AUQelvoBS7_lv2)
    target_link_libraries(edge_process_symbols_test PRIVATE PkgConfig::LILV)
    target_compile_definitions(edge_process_symbols_test PRIVATE QELVO_LV2_BUILD_DIR="${QELVO_LV2_BUILD_DIR}")
    add_dependencies(edge_process_symbols_test AUQelvoBS7_lv2)
  endif()
endif()
