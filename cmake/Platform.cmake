# What differs between the platforms, chosen in this one place.
#
# Every platform difference sits behind a seam: one header that declares a
# few operations, and one source per platform that implements them with the
# same names and contracts, named <seam>_posix.cpp and <seam>_win32.cpp
# beside the header. The README's developer section has the table.

if(WIN32)
  set(ORVEN_PLATFORM win32)
else()
  set(ORVEN_PLATFORM posix)
endif()

# The seams of each library, and the system libraries their Windows sources need.
set(ORVEN_SEAMS_orven_device device/codepage)
set(ORVEN_SEAMS_orven_net net/socket net/adapter net/inspect)
set(ORVEN_SEAMS_orven_cli_core cli/platform)
set(ORVEN_SEAMS_orven_journal journal/store)
set(ORVEN_SEAMS_orven_app app/input_method)
if(WIN32)
  set(ORVEN_SYSTEM_LIBS_orven_device ws2_32)
  set(ORVEN_SYSTEM_LIBS_orven_net ws2_32 iphlpapi ole32 oleaut32)
  set(ORVEN_SYSTEM_LIBS_orven_cli_core shell32)
  set(ORVEN_SYSTEM_LIBS_orven_app imm32)
endif()

# Adds this platform's sources of the target's seams, and the system
# libraries they need.
function(orven_platform_sources target)
  foreach(seam IN LISTS ORVEN_SEAMS_${target})
    target_sources(${target} PRIVATE ${PROJECT_SOURCE_DIR}/${seam}.h
                                     ${PROJECT_SOURCE_DIR}/${seam}_${ORVEN_PLATFORM}.cpp)
  endforeach()
  if(ORVEN_SYSTEM_LIBS_${target})
    target_link_libraries(${target} PUBLIC ${ORVEN_SYSTEM_LIBS_${target}})
  endif()
endfunction()

# Header-only libraries from Debian's packages: CLI11, nlohmann-json and
# utfcpp. A cross build for Windows takes the build machine's headers too,
# linked into a folder of their own so that no other header of the build
# machine is seen.
if(CMAKE_CROSSCOMPILING)
  find_path(ORVEN_CLI11_INCLUDE CLI/CLI.hpp PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH REQUIRED)
  find_path(ORVEN_JSON_INCLUDE nlohmann/json.hpp PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH REQUIRED)
  find_path(ORVEN_UTFCPP_INCLUDE utf8.h PATHS /usr/include/utf8cpp NO_CMAKE_FIND_ROOT_PATH REQUIRED)
  set(headers ${CMAKE_BINARY_DIR}/header-only)
  file(MAKE_DIRECTORY ${headers})
  file(CREATE_LINK ${ORVEN_CLI11_INCLUDE}/CLI ${headers}/CLI SYMBOLIC)
  file(CREATE_LINK ${ORVEN_JSON_INCLUDE}/nlohmann ${headers}/nlohmann SYMBOLIC)
  file(CREATE_LINK ${ORVEN_UTFCPP_INCLUDE}/utf8.h ${headers}/utf8.h SYMBOLIC)
  file(CREATE_LINK ${ORVEN_UTFCPP_INCLUDE}/utf8 ${headers}/utf8 SYMBOLIC)
  add_library(orven_header_only INTERFACE)
  target_include_directories(orven_header_only SYSTEM INTERFACE ${headers})
  add_library(orven::cli11 ALIAS orven_header_only)
  add_library(orven::json ALIAS orven_header_only)
  add_library(orven::utfcpp ALIAS orven_header_only)
else()
  find_package(utf8cpp CONFIG REQUIRED GLOBAL)
  find_package(CLI11 CONFIG REQUIRED GLOBAL)
  find_package(nlohmann_json 3 REQUIRED GLOBAL)
  add_library(orven::utfcpp ALIAS utf8cpp)
  add_library(orven::cli11 ALIAS CLI11::CLI11)
  add_library(orven::json ALIAS nlohmann_json::nlohmann_json)
endif()
