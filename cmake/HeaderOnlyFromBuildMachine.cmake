# CLI11 and nlohmann_json for a cross build: both are header-only, so the
# build machine's copies serve any target. Only those two header folders are
# exposed, through links in a folder of their own; the rest of the build
# machine's /usr/include stays out of the cross build.
include_guard(GLOBAL)
set(VELTRANE_HEADER_ONLY_DIR ${CMAKE_BINARY_DIR}/header-only)
file(MAKE_DIRECTORY ${VELTRANE_HEADER_ONLY_DIR})
foreach(dir CLI nlohmann)
  if(NOT EXISTS /usr/include/${dir})
    message(FATAL_ERROR "/usr/include/${dir} not found (Debian packages libcli11-dev, nlohmann-json3-dev)")
  endif()
  file(CREATE_LINK /usr/include/${dir} ${VELTRANE_HEADER_ONLY_DIR}/${dir} SYMBOLIC)
endforeach()
foreach(target CLI11::CLI11 nlohmann_json::nlohmann_json)
  if(NOT TARGET ${target})
    add_library(${target} INTERFACE IMPORTED GLOBAL)
    set_target_properties(${target} PROPERTIES INTERFACE_INCLUDE_DIRECTORIES ${VELTRANE_HEADER_ONLY_DIR}
                                               INTERFACE_SYSTEM_INCLUDE_DIRECTORIES ${VELTRANE_HEADER_ONLY_DIR})
  endif()
endforeach()
