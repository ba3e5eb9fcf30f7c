# The host program's render benchmark, and the one of how the cost grows,
# drive the built bundles through the program's own host code.
foreach(bench tools_render_bench scale_bench)
  if(TARGET ${bench})
    target_link_libraries(${bench} PRIVATE qelvo_tool)
    foreach(bundle AUQelvoBS7)
      if(TARGET ${bundle})
        add_dependencies(${bench} ${bundle})
      endif()
    endforeach()
  endif()
endforeach()
