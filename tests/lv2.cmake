# The LV2 edition, checked with the distribution's LV2 tools and an in-process
# host: descriptions valid, plug-ins listed with their ports, rendering through
# an LV2 host equal to rendering through the native unit.
pkg_check_modules(LILV QUIET IMPORTED_TARGET lilv-0)
if(QELVO_LV2_BUNDLES AND LILV_FOUND)
  set(lv2_env LV2_PATH=${QELVO_LV2_BUILD_DIR})
  set(lv2_bundle_targets)
  foreach(name ${QELVO_LV2_BUNDLES})
    list(APPEND lv2_bundle_targets ${name}_lv2 ${name})
  endforeach()

  find_program(LV2APPLY lv2apply)
  # Distribution hosts are not built with our sanitizers and cannot load a
  # plug-in that is; the in-process host covers the wrapper in those builds.
  if(QELVO_SANITIZE OR QELVO_TSAN)
    set(instrumented 1)
  else()
    set(instrumented 0)
  endif()
  foreach(test lv2_host_test lv2_apply_test lv2_start_test lv2_control_test lv2_control_concurrency_test)
    add_executable(${test} ${CMAKE_CURRENT_SOURCE_DIR}/lv2/${test}.cpp)
    target_include_directories(${test} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
    target_link_libraries(${test} PRIVATE qelvo_platform PkgConfig::LILV GTest::gtest GTest::gtest_main ${CMAKE_DL_LIBS}
                                          Threads::Threads)
    target_compile_definitions(${test} PRIVATE QELVO_LV2APPLY="${LV2APPLY}" QELVO_INSTRUMENTED=${instrumented}
                                             QELVO_TOOL="$<TARGET_FILE:qelvo>"
                                             QELVO_LV2_BUILD_DIR="${QELVO_LV2_BUILD_DIR}"
                                             QELVO_PLUGIN_BUILD_DIR="${QELVO_PLUGIN_BUILD_DIR}")
    add_dependencies(${test} ${lv2_bundle_targets} qelvo)
    if(test STREQUAL lv2_control_test)
      target_link_libraries(${test} PRIVATE qelvo_lv2_support)
    endif()
    if(test MATCHES "_concurrency_test$")
      gtest_discover_tests(${test} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 600 ENVIRONMENT "${lv2_env}"
                           LABELS concurrency)
    else()
      gtest_discover_tests(${test} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 600 ENVIRONMENT "${lv2_env}")
    endif()
  endforeach()

  # The parameter table behind the description and the wrapper's ports.
  add_executable(lv2_parameter_table_test ${CMAKE_CURRENT_SOURCE_DIR}/lv2/lv2_parameter_table_test.cpp)
  target_include_directories(lv2_parameter_table_test PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
  target_link_libraries(lv2_parameter_table_test PRIVATE qelvo_lv2_description qelvo_test_variant GTest::gtest
                                                         GTest::gtest_main)
  gtest_discover_tests(lv2_parameter_table_test DISCOVERY_TIMEOUT 60)

  find_program(LV2_VALIDATE lv2_validate)
  find_program(LV2INFO lv2info)
  foreach(name ${QELVO_LV2_BUNDLES})
    set(bundle ${QELVO_LV2_BUILD_DIR}/${name}.lv2)
    if(LV2_VALIDATE)
      # lv2_validate reports errors on stdout and still exits 0 on some of them.
      # lv2_validate is sord_validate with the installed LV2 vocabularies.
      add_test(NAME lv2_validate_${name}
               COMMAND ${LV2_VALIDATE} ${bundle}/manifest.ttl ${bundle}/${name}.ttl ${bundle}/presets.ttl)
      set_tests_properties(lv2_validate_${name} PROPERTIES
        PASS_REGULAR_EXPRESSION "Found 0 errors" FAIL_REGULAR_EXPRESSION "error:|warning:")
    endif()
    if(LV2INFO)
      foreach(suffix "" -mono)
        add_test(NAME lv2info_${name}${suffix}
                 COMMAND ${CMAKE_COMMAND} -DLV2INFO=${LV2INFO} -DURI=https://qelvo.org/plugins/${name}${suffix}
                         -DSYMBOLS_PROGRAM=$<TARGET_FILE:${name}_lv2_ttl>
                         -P ${CMAKE_CURRENT_SOURCE_DIR}/lv2/lv2info_ports.cmake)
        set_tests_properties(lv2info_${name}${suffix} PROPERTIES ENVIRONMENT "LV2_PATH=${QELVO_LV2_BUILD_DIR}")
      endforeach()
    endif()
  endforeach()

  # Live: jalv on a dummy audio server, levels from `qelvo replay` in another process.
  find_program(JALV jalv)
  find_program(JACKD jackd)
  find_program(JACK_WAIT jack_wait)
  if(JALV AND JACKD AND JACK_WAIT AND TARGET qelvo AND NOT instrumented)
    add_test(NAME lv2_jalv_live
             COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/lv2/jalv_live_test.sh $<TARGET_FILE:qelvo> ${QELVO_LV2_BUILD_DIR})
    set_tests_properties(lv2_jalv_live PROPERTIES TIMEOUT 120)
  endif()
endif()
