# The thread-contract check reads the sources it checks.
if(TARGET thread_contract_test)
  target_compile_definitions(thread_contract_test PRIVATE QELVO_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
endif()
