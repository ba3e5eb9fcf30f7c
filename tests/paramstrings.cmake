# The parameter tests describe parameters to the loader tests' probe unit, a
# real bundle opened through the component loader.
foreach(test parameter_strings_test parameter_listeners_test parameter_listeners_concurrency_test)
  if(TARGET ${test})
    target_compile_definitions(${test} PRIVATE QELVO_TEST_BUNDLE_DIR="${CMAKE_BINARY_DIR}/tests/bundles")
    add_dependencies(${test} QelvoProbe)
  endif()
endforeach()
