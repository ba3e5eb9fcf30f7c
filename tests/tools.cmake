# The host program's tests: its own pieces linked in, and end-to-end runs of
# the built program against the built plug-in bundles.
set(QELVO_TOOL_TESTS tools_units_test tools_render_test tools_cli_test tools_bus_test tools_demo_test
                     tools_pictures_test)
# The bridge's level shaping, alone and end to end.
list(APPEND QELVO_TOOL_TESTS tools_levels_test tools_bridge_levels_test)
# The program at its edges: special and crafted files, outputs, interrupts,
# and its command-line conventions.
list(APPEND QELVO_TOOL_TESTS edge_files_special_test edge_files_outputs_test edge_process_interrupt_test
     tools_conventions_test)
# The end-to-end tests need the bundles; without them they report a skip.
if(TARGET AUQelvoBS7)
  set(QELVO_HAVE_BUNDLES 1)
else()
  set(QELVO_HAVE_BUNDLES 0)
endif()
foreach(test ${QELVO_TOOL_TESTS})
  if(TARGET ${test})
    target_link_libraries(${test} PRIVATE qelvo_tool)
    target_compile_definitions(${test} PRIVATE QELVO_TOOL="$<TARGET_FILE:qelvo>"
                                               QELVO_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
                                               QELVO_HAVE_BUNDLES=${QELVO_HAVE_BUNDLES})
    add_dependencies(${test} qelvo qelvo_native_plugins)
  endif()
endforeach()
# The picture test opens a deliverable in its own process, from this build tree.
if(TARGET tools_pictures_test)
  target_compile_definitions(tools_pictures_test PRIVATE QELVO_TEST_PLUGIN_DIR="${QELVO_PLUGIN_BUILD_DIR}")
endif()
