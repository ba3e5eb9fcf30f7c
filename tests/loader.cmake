# The component loader tests load real bundles (not installed): the probe
# unit, a framework effect, and a shared object without the entry symbol.
set(QELVO_TEST_BUNDLE_DIR ${CMAKE_BINARY_DIR}/tests/bundles)
qelvo_add_bundle(NAME QelvoProbe SUBTYPE Qprb VERSION 1.2.3 DISPLAY_NAME "Qelvo Probe"
                 SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/support/LoaderProbe.cpp
                 OUTPUT_DIRECTORY ${QELVO_TEST_BUNDLE_DIR} NO_INSTALL)
target_include_directories(QelvoProbe PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
qelvo_bundle_identifier(probe_identifier QelvoProbe)
target_compile_definitions(QelvoProbe PRIVATE QELVO_PROBE_IDENTIFIER="${probe_identifier}")

# A framework effect as a bundle: the entry dispatcher, the effect base and the
# level listener, all private to the shared object.
qelvo_add_bundle(NAME QelvoLoaderEffect SUBTYPE Qlfx
                 SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/support/LoaderEffect.cpp
                         ${QELVO_TEST_VARIANT_SOURCE}
                 LIBS qelvo_effect
                 OUTPUT_DIRECTORY ${QELVO_TEST_BUNDLE_DIR} NO_INSTALL)

add_library(loader_noentry MODULE ${CMAKE_CURRENT_SOURCE_DIR}/support/LoaderNoEntry.cpp)

foreach(test component_loader_test component_loader_concurrency_test loaded_effect_test)
  if(TARGET ${test})
    target_compile_definitions(${test} PRIVATE
      QELVO_TEST_BUNDLE_DIR="${QELVO_TEST_BUNDLE_DIR}"
      QELVO_NOENTRY_OBJECT="$<TARGET_FILE:loader_noentry>")
    target_link_libraries(${test} PRIVATE ${CMAKE_DL_LIBS})
    add_dependencies(${test} QelvoProbe QelvoLoaderEffect loader_noentry)
  endif()
endforeach()
