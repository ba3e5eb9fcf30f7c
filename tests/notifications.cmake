# The second process of the notification tests: posts through the centre or
# writes (malformed) signals by hand.
add_executable(notifications_peer ${CMAKE_CURRENT_SOURCE_DIR}/notifications_peer.cpp)
target_link_libraries(notifications_peer PRIVATE qelvo_platform PkgConfig::SYSTEMD)
foreach(test notifications_test notifications_concurrency_test)
  if(TARGET ${test})
    target_compile_definitions(${test} PRIVATE QELVO_NOTIFICATIONS_PEER="$<TARGET_FILE:notifications_peer>")
    add_dependencies(${test} notifications_peer)
  endif()
endforeach()
# Builds and reads signals itself.
if(TARGET notifications_wire_test)
  target_link_libraries(notifications_wire_test PRIVATE PkgConfig::SYSTEMD)
  target_compile_definitions(notifications_wire_test PRIVATE QELVO_NOTIFICATIONS_PEER="")
endif()
