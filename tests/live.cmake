# qelvo live: its pieces linked in (processor, level log, recorder, targets,
# status text), its render callback under an allocation count, its pause
# and reconfiguration under concurrency, and end-to-end runs in a private
# PipeWire graph (tools_live_graph_test).
set(QELVO_LIVE_TESTS tools_live_test tools_live_alloc_test tools_live_concurrency_test tools_live_graph_test)
# The server's own programs cannot load a plug-in built with our sanitizers:
# the filter-chain example is then left out.
if(QELVO_SANITIZE OR QELVO_TSAN)
  set(live_instrumented 1)
else()
  set(live_instrumented 0)
endif()
foreach(test ${QELVO_LIVE_TESTS})
  if(TARGET ${test})
    target_link_libraries(${test} PRIVATE qelvo_tool)
    target_compile_definitions(${test} PRIVATE QELVO_TOOL="$<TARGET_FILE:qelvo>"
                                               QELVO_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
                                               QELVO_HAVE_BUNDLES=$<BOOL:$<TARGET_EXISTS:AUQelvoBS7>>
                                               QELVO_LV2_DIR="${QELVO_LV2_BUILD_DIR}"
                                               QELVO_INSTRUMENTED=${live_instrumented})
    add_dependencies(${test} qelvo)
    foreach(target AUQelvoBS7 AUQelvoBS7_lv2)
      if(TARGET ${target})
        add_dependencies(${test} ${target})
      endif()
    endforeach()
  endif()
endforeach()
