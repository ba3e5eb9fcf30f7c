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

# The run path from one install folder to another as $ORIGIN/<relative>, so
# an install works wherever its prefix ends up (DESTDIR, --prefix, a copy).
# A folder given as an absolute path can only be reached absolutely.
function(qelvo_install_rpath out from to)
  if(IS_ABSOLUTE "${to}")
    set(${out} "${to}" PARENT_SCOPE)
  elseif(IS_ABSOLUTE "${from}")
    set(${out} "${CMAKE_INSTALL_PREFIX}/${to}" PARENT_SCOPE)
  else()
    file(RELATIVE_PATH relative "/${from}" "/${to}")
    string(REGEX REPLACE "/$" "" relative "${relative}")
    if(relative)
      set(${out} "$ORIGIN/${relative}" PARENT_SCOPE)
    else()
      set(${out} "$ORIGIN" PARENT_SCOPE)
    endif()
  endif()
endfunction()
