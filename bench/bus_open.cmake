# Opening the band-7 deliverable while the bus hangs: needs its bundle.
if(TARGET bus_open_bench)
  target_compile_definitions(bus_open_bench PRIVATE QELVO_PLUGIN_BUILD_DIR="${QELVO_PLUGIN_BUILD_DIR}")
  if(TARGET AUQelvoBS7)
    add_dependencies(bus_open_bench AUQelvoBS7)
  endif()
endif()
