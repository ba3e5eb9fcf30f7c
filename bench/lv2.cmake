# Our LV2 edition against the distribution's peer low-pass plug-ins, in one
# in-process host. Needs lilv and the edition's bundles.
pkg_check_modules(BENCH_LILV QUIET IMPORTED_TARGET lilv-0)
if(BENCH_LILV_FOUND AND QELVO_LV2_BUNDLES)
  add_executable(lv2_peers_bench ${CMAKE_CURRENT_SOURCE_DIR}/lv2/peers_bench.cpp)
  target_link_libraries(lv2_peers_bench PRIVATE PkgConfig::BENCH_LILV benchmark::benchmark)
  target_compile_definitions(lv2_peers_bench PRIVATE QELVO_LV2_BUILD_DIR="${QELVO_LV2_BUILD_DIR}")
  foreach(name ${QELVO_LV2_BUNDLES})
    add_dependencies(lv2_peers_bench ${name}_lv2 ${name})
  endforeach()
endif()
