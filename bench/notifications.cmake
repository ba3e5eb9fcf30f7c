# The posting process of the notification benchmark.
add_executable(notifications_poster ${CMAKE_CURRENT_SOURCE_DIR}/notifications_poster.cpp)
target_link_libraries(notifications_poster PRIVATE qelvo_platform)
if(TARGET notifications_bench)
  target_compile_definitions(notifications_bench PRIVATE QELVO_NOTIFICATIONS_POSTER="$<TARGET_FILE:notifications_poster>")
  add_dependencies(notifications_bench notifications_poster)
endif()
