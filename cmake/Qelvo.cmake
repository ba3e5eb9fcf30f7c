# Collects the sources of one layout folder, so adding a file needs no CMake edit.
function(qelvo_sources out dir)
  file(GLOB _srcs CONFIGURE_DEPENDS ${dir}/*.cpp)
  if(NOT _srcs)
    # A folder still being filled builds as an empty library.
    set(_empty ${CMAKE_CURRENT_BINARY_DIR}/empty.cpp)
    file(WRITE ${_empty} "")
    set(_srcs ${_empty})
  endif()
  set(${out} ${_srcs} PARENT_SCOPE)
endfunction()
