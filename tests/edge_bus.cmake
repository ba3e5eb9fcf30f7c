# The bus boundary's tests (edge_bus_*): the qelvo program against a bus that
# hangs, goes away or comes up late, plug-ins opened meanwhile, and the OSC
# bridge's core.
if(TARGET AUQelvoBS7)
  set(edge_bus_have_bundles 1)
else()
  set(edge_bus_have_bundles 0)
endif()
foreach(test edge_bus_connect_test edge_bus_reconnect_test edge_bus_open_test edge_bus_osc_test
                 edge_bus_concurrency_test)
  if(TARGET ${test})
    target_link_libraries(${test} PRIVATE qelvo_tool)
    target_compile_definitions(${test} PRIVATE QELVO_TOOL="$<TARGET_FILE:qelvo>"
                                               QELVO_HAVE_BUNDLES=${edge_bus_have_bundles})
    add_dependencies(${test} qelvo)
  endif()
endforeach()

# Opens the band-7 deliverable natively and as an LV2 plug-in, in process.
pkg_check_modules(EDGE_BUS_LILV REQUIRED IMPORTED_TARGET lilv-0)
if(TARGET edge_bus_open_test)
  target_compile_definitions(edge_bus_open_test PRIVATE QELVO_PLUGIN_BUILD_DIR="${QELVO_PLUGIN_BUILD_DIR}"
                                                        QELVO_LV2_BUILD_DIR="${QELVO_LV2_BUILD_DIR}")
  target_link_libraries(edge_bus_open_test PRIVATE PkgConfig::EDGE_BUS_LILV)
  foreach(target AUQelvoBS7 AUQelvoBS7_lv2)
    if(TARGET ${target})
      add_dependencies(edge_bus_open_test ${target})
    endif()
  endforeach()
endif()
