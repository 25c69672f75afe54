# nlohmann-json for the macOS cross build: Debian's headers through an include folder of the
# build's own that holds only a link to them, so no other host header can reach a macOS compile.
if(TARGET nlohmann_json::nlohmann_json)
  return()
endif()
if(NOT EXISTS /usr/include/nlohmann/json.hpp)
  set(nlohmann_json_FOUND FALSE)
  set(nlohmann_json_NOT_FOUND_MESSAGE "Debian's nlohmann-json3-dev is not installed.")
  return()
endif()
set(_quillfen_json_include "${CMAKE_BINARY_DIR}/macos-include")
file(MAKE_DIRECTORY "${_quillfen_json_include}")
if(NOT EXISTS "${_quillfen_json_include}/nlohmann")
  file(CREATE_LINK /usr/include/nlohmann "${_quillfen_json_include}/nlohmann" SYMBOLIC)
endif()
add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED)
set_target_properties(nlohmann_json::nlohmann_json PROPERTIES
  INTERFACE_INCLUDE_DIRECTORIES "${_quillfen_json_include}")
