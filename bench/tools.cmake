# The host program's render benchmark drives the built bundles through the
# program's own render code.
if(TARGET tools_render_bench)
  target_link_libraries(tools_render_bench PRIVATE qelvo_tool)
  foreach(bundle AUQelvoBS7)
    if(TARGET ${bundle})
      add_dependencies(tools_render_bench ${bundle})
    endif()
  endforeach()
endif()
