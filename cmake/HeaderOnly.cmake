# CLI11 and nlohmann-json, header-only, as the target orven_cli_headers for
# the command-line programs (orven-cli, orven-devsim).
if(CMAKE_CROSSCOMPILING)
  # The build machine's Debian packages serve the target too, linked into a
  # folder of their own so that no other header of the build machine is seen.
  find_path(ORVEN_CLI11_INCLUDE CLI/CLI.hpp PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH REQUIRED)
  find_path(ORVEN_JSON_INCLUDE nlohmann/json.hpp PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH REQUIRED)
  set(headers ${CMAKE_BINARY_DIR}/header-only)
  file(MAKE_DIRECTORY ${headers})
  file(CREATE_LINK ${ORVEN_CLI11_INCLUDE}/CLI ${headers}/CLI SYMBOLIC)
  file(CREATE_LINK ${ORVEN_JSON_INCLUDE}/nlohmann ${headers}/nlohmann SYMBOLIC)
  add_library(orven_cli_headers INTERFACE)
  target_include_directories(orven_cli_headers SYSTEM INTERFACE ${headers})
else()
  find_package(CLI11 CONFIG REQUIRED)
  find_package(nlohmann_json 3 REQUIRED)
  add_library(orven_cli_headers INTERFACE)
  target_link_libraries(orven_cli_headers INTERFACE nlohmann_json::nlohmann_json CLI11::CLI11)
endif()
