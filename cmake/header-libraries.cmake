# CLI11 and nlohmann/json, the header-only libraries of the command-line program, the tools and
# the test driver, as the targets CLI11::CLI11 and nlohmann_json::nlohmann_json.
#
# Natively they come from their packages' CMake files. A cross build uses the same headers (they
# hold no platform code), found by find_path; the cross compiler must not search the host's
# include folder as a whole, so the targets name a folder of their own that links to just these
# two header trees.
include_guard(GLOBAL)

if(NOT CMAKE_CROSSCOMPILING)
  find_package(CLI11 CONFIG REQUIRED)
  find_package(nlohmann_json CONFIG REQUIRED)
  # Included once, for every folder that uses them.
  set_target_properties(CLI11::CLI11 nlohmann_json::nlohmann_json PROPERTIES IMPORTED_GLOBAL TRUE)
  return()
endif()

find_path(ZORVEN_CLI11_INCLUDE_DIR CLI/CLI.hpp HINTS /usr/include NO_CMAKE_FIND_ROOT_PATH
          DOC "Folder that holds CLI/CLI.hpp")
find_path(ZORVEN_JSON_INCLUDE_DIR nlohmann/json.hpp HINTS /usr/include NO_CMAKE_FIND_ROOT_PATH
          DOC "Folder that holds nlohmann/json.hpp")
if(NOT ZORVEN_CLI11_INCLUDE_DIR OR NOT ZORVEN_JSON_INCLUDE_DIR)
  message(FATAL_ERROR "CLI11 or nlohmann/json headers not found (scripts/setup.sh installs them)")
endif()
set(dir ${CMAKE_BINARY_DIR}/header-libraries)
file(MAKE_DIRECTORY ${dir})
file(CREATE_LINK ${ZORVEN_CLI11_INCLUDE_DIR}/CLI ${dir}/CLI SYMBOLIC)
file(CREATE_LINK ${ZORVEN_JSON_INCLUDE_DIR}/nlohmann ${dir}/nlohmann SYMBOLIC)
add_library(CLI11::CLI11 INTERFACE IMPORTED GLOBAL)
add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED GLOBAL)
target_include_directories(CLI11::CLI11 SYSTEM INTERFACE ${dir})
target_include_directories(nlohmann_json::nlohmann_json SYSTEM INTERFACE ${dir})
