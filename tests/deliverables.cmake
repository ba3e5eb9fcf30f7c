# The end-to-end tests open the ten deliverable bundles of this build tree
# through the component loader and post levels from the level peer process.
if(TARGET deliverables_test)
  target_compile_definitions(deliverables_test PRIVATE
    QELVO_DELIVERABLES_DIR="${QELVO_PLUGIN_BUILD_DIR}"
    QELVO_LEVEL_PEER="$<TARGET_FILE:level_peer>")
  add_dependencies(deliverables_test level_peer ${QELVO_DELIVERABLES})
endif()
