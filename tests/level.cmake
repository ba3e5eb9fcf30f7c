# Level listener tests across processes and shared objects: a peer process that
# posts level notifications, and a loadable object with its own listener copy
# (the left-peak deliverable) whose symbols stay private, as a deliverable's do.
add_library(level_module MODULE ${CMAKE_CURRENT_SOURCE_DIR}/level_module.cpp
                                ${QELVO_PEAK_LEFT_VARIANT_SOURCE})
target_link_libraries(level_module PRIVATE qelvo_effect)
set_target_properties(level_module PROPERTIES CXX_VISIBILITY_PRESET hidden)
target_link_options(level_module PRIVATE -Wl,--exclude-libs,ALL)

add_executable(level_peer ${CMAKE_CURRENT_SOURCE_DIR}/level_peer.cpp)
target_link_libraries(level_peer PRIVATE qelvo_platform PkgConfig::SYSTEMD ${CMAKE_DL_LIBS})

if(TARGET level_bus_test)
  target_compile_definitions(level_bus_test PRIVATE QELVO_LEVEL_PEER="$<TARGET_FILE:level_peer>"
                                                    QELVO_LEVEL_MODULE="$<TARGET_FILE:level_module>")
  target_link_libraries(level_bus_test PRIVATE ${CMAKE_DL_LIBS})
  add_dependencies(level_bus_test level_peer level_module)
endif()
