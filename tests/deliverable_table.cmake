# A plug-in added by one row: a copy of the plug-in table with a row more,
# read and built the way the real table is, into folders of its own (not on
# any search path, never installed). The test then runs it through qelvo and
# the LV2 hosts, which learn what it is from the unit alone.
set(table_copy ${CMAKE_CURRENT_BINARY_DIR}/deliverables-plus-one.cmake)
file(READ ${QELVO_DELIVERABLE_TABLE} table_text)
file(WRITE ${table_copy} "${table_text}qelvo_deliverable(AUQelvoTableTest  Qtbt     6        67810)\n")
qelvo_read_deliverables(${table_copy} rows_plus_one)
set(extra_rows ${rows_plus_one})
list(REMOVE_ITEM extra_rows ${QELVO_DELIVERABLE_ROWS})
list(LENGTH extra_rows extra_count)
if(NOT extra_count EQUAL 1)
  message(FATAL_ERROR "the copy of the plug-in table should hold one row more, not: ${extra_rows}")
endif()
qelvo_deliverable_fields(${extra_rows} extra_name extra_subtype extra_variant extra_property)

set(extra_plugins ${CMAKE_CURRENT_BINARY_DIR}/table-plugins)
set(extra_lv2 ${CMAKE_CURRENT_BINARY_DIR}/table-lv2)
qelvo_add_deliverable(${extra_rows} OUTPUT_DIRECTORY ${extra_plugins} NO_INSTALL)
set(lv2_folder "")
if(QELVO_LV2_BUNDLES AND NOT QELVO_SANITIZE AND NOT QELVO_TSAN)
  # The distribution's LV2 hosts cannot load instrumented plug-ins.
  qelvo_add_lv2_bundle(${extra_rows} OUTPUT_DIRECTORY ${extra_lv2} NO_INSTALL)
  set(lv2_folder ${extra_lv2})
endif()

if(TARGET qelvo)
  add_test(NAME deliverable_table_one_more_row
           COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/table/one_more_row_test.sh $<TARGET_FILE:qelvo> ${extra_plugins}
                   "${lv2_folder}" ${extra_name} ${extra_subtype} ${extra_variant} ${extra_property})
  set_tests_properties(deliverable_table_one_more_row PROPERTIES TIMEOUT 300)
endif()
