# The program folder as it goes to a Windows workstation, and its packages.
#
# `cmake --install` fills one flat folder: orven-setup.exe, orven-devsim.exe and
# ORVENAPI3.dll, the Qt DLLs beside them, the platform and style plugins in
# platforms/ and styles/, and the compiler's runtime DLLs that Qt's own DLLs
# load -- what windeployqt leaves beside a program -- so that the folder runs
# on a Windows that has nothing installed. CPack packs that folder as a ZIP,
# and as an NSIS installer where makensis is found.
#
# The build's own program folder (CMAKE_RUNTIME_OUTPUT_DIRECTORY) gets the
# same Qt files, plus the offscreen platform and Qt Test for the tests, so
# that the programs and the widget tests run straight from the build.
#
# Included from the top-level CMakeLists.txt on Windows, after the targets.

if(TARGET orven-setup)
  # A windowed program: no console window opens beside it. Qt links its own
  # WinMain, which calls main().
  set_target_properties(orven-setup PROPERTIES WIN32_EXECUTABLE ON)
endif()

# ---- resources: version information, icon, manifest ---------------------------

# Each program carries a version resource (what Explorer's Properties show)
# and a manifest (the Windows versions it was made for, per-monitor DPI
# awareness as Qt 6 sets it, no elevation); orven-setup.exe also carries the
# icon, rendered from the project's SVG, which Qt takes for its windows and
# Explorer and the task bar show.
set(ORVEN_WINDOWS_PACKAGING ${PROJECT_SOURCE_DIR}/packaging/windows)
set(ORVEN_PRODUCT_NAME "ORVEN网络设备现场设置程序")
set(ORVEN_VENDOR ORVEN)
file(STRINGS ${PROJECT_SOURCE_DIR}/packaging/copyright copyright REGEX "^Copyright: " LIMIT_COUNT 1)
string(REGEX REPLACE "^Copyright: " "" copyright "${copyright}")
set(ORVEN_COPYRIGHT "Copyright © ${copyright}. All rights reserved.")
set(windows_generated ${PROJECT_BINARY_DIR}/packaging/windows)
file(MAKE_DIRECTORY ${windows_generated})

find_program(ORVEN_RSVG_CONVERT rsvg-convert)
find_program(ORVEN_ICOTOOL icotool)
if(ORVEN_RSVG_CONVERT AND ORVEN_ICOTOOL)
  set(ORVEN_ICO ${windows_generated}/orven-setup.ico)
  set(icon_pngs)
  set(icon_commands)
  foreach(size 16 24 32 48 256)
    set(png ${windows_generated}/orven-setup-${size}.png)
    list(APPEND icon_commands COMMAND ${ORVEN_RSVG_CONVERT} -w ${size} -h ${size} -o ${png}
                                      ${PROJECT_SOURCE_DIR}/packaging/orven-setup.svg)
    if(size EQUAL 256)
      list(APPEND icon_pngs --raw=${png})  # kept as PNG inside the ICO, as Windows expects at 256
    else()
      list(APPEND icon_pngs ${png})
    endif()
  endforeach()
  add_custom_command(OUTPUT ${ORVEN_ICO}
    ${icon_commands}
    COMMAND ${ORVEN_ICOTOOL} -c -o ${ORVEN_ICO} ${icon_pngs}
    DEPENDS ${PROJECT_SOURCE_DIR}/packaging/orven-setup.svg
    VERBATIM)
  add_custom_target(orven_icon DEPENDS ${ORVEN_ICO})
else()
  set(ORVEN_ICO)
  message(WARNING "orven-setup.exe is built without its icon: rsvg-convert (Debian package "
                  "librsvg2-bin) and icotool (icoutils) render it; 'make deps-windows' installs them")
endif()

string(REPLACE "." "," ORVEN_RC_VERSION_COMMAS ${PROJECT_VERSION})
set(ORVEN_RC_COMPANY ${ORVEN_VENDOR})
set(ORVEN_RC_COPYRIGHT ${ORVEN_COPYRIGHT})
set(ORVEN_RC_PRODUCT ${ORVEN_PRODUCT_NAME})
set(description_orven-setup "${ORVEN_PRODUCT_NAME}")
set(description_orven-cli "ORVEN网络设备命令行工具")
set(description_orven-devsim "ORVEN网络设备模拟器（培训用）")
foreach(program orven-setup orven-cli orven-devsim)
  if(NOT TARGET ${program})
    continue()
  endif()
  set(ORVEN_RC_PROGRAM ${program})
  set(ORVEN_RC_DESCRIPTION ${description_${program}})
  set(manifest ${windows_generated}/${program}.manifest)
  set(rc ${windows_generated}/${program}.rc)
  configure_file(${ORVEN_WINDOWS_PACKAGING}/orven.manifest ${manifest} @ONLY)
  set(ORVEN_RC_ICON)
  if(program STREQUAL "orven-setup" AND ORVEN_ICO)
    # IDI_ICON1: the name under which Qt looks for the icon of its windows.
    set(ORVEN_RC_ICON "IDI_ICON1 ICON \"${ORVEN_ICO}\"")
    add_dependencies(${program} orven_icon)
    set_source_files_properties(${rc} TARGET_DIRECTORY ${program} PROPERTIES OBJECT_DEPENDS ${ORVEN_ICO})
  endif()
  if(MSVC)
    set(ORVEN_RC_MANIFEST)  # the linker embeds a manifest named among the sources
    target_sources(${program} PRIVATE ${manifest})
  else()
    set(ORVEN_RC_MANIFEST "1 24 \"${manifest}\"")  # CREATEPROCESS_MANIFEST_RESOURCE_ID, RT_MANIFEST
  endif()
  configure_file(${ORVEN_WINDOWS_PACKAGING}/orven.rc.in ${rc} @ONLY)
  target_sources(${program} PRIVATE ${rc})
endforeach()

# ---- our programs and the device-protocol library ----------------------------

foreach(program orven-setup orven-devsim orven-cli)
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION . COMPONENT programs)
  endif()
endforeach()

# The stand-in library, or the vendor's DLL when one was named.
if(ORVENAPI3_LIBRARY MATCHES "\\.[dD][lL][lL]$")
  install(FILES ${ORVENAPI3_LIBRARY} DESTINATION . COMPONENT programs)
elseif(NOT ORVENAPI3_LIBRARY)
  install(TARGETS ORVENAPI3 RUNTIME DESTINATION . COMPONENT programs
          ARCHIVE DESTINATION lib COMPONENT development EXCLUDE_FROM_ALL)
endif()

# The folder's README (UTF-8 with a byte order mark, so that Notepad reads it):
# starting the tool, and allowing it through the firewall by hand.
set(ORVEN_FIREWALL_RULE_SETUP "${ORVEN_PRODUCT_NAME} (orven-setup.exe)")
set(ORVEN_FIREWALL_RULE_CLI "${ORVEN_PRODUCT_NAME} (orven-cli.exe)")
set(ORVEN_FIREWALL_PORTS 60080,60081)
configure_file(${ORVEN_WINDOWS_PACKAGING}/README.txt ${windows_generated}/README.txt @ONLY NEWLINE_STYLE CRLF)
install(FILES ${windows_generated}/README.txt DESTINATION . COMPONENT programs)

# ---- what Qt needs beside a program -------------------------------------------

if(TARGET orven-setup)
  # Each list holds files or imported targets of Qt; the name says the
  # subfolder (Qt looks for plugins in subfolders beside the program).
  set(qt_top Qt6::Core Qt6::Gui Qt6::Widgets)
  set(qt_platforms Qt6::QWindowsIntegrationPlugin)  # without it nothing starts
  set(qt_styles)                                    # the native look
  foreach(style Qt6::QModernWindowsStylePlugin Qt6::QWindowsVistaStylePlugin)
    if(TARGET ${style})
      list(APPEND qt_styles ${style})
    endif()
  endforeach()

  # The compiler runtime that Qt's DLLs load (our own programs have theirs
  # linked in). MSVC's comes through InstallRequiredSystemLibraries.
  if(MINGW)
    get_filename_component(compiler_dir ${CMAKE_CXX_COMPILER} DIRECTORY)
    foreach(dll libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
      execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll}
                      OUTPUT_VARIABLE found OUTPUT_STRIP_TRAILING_WHITESPACE)
      if(NOT IS_ABSOLUTE "${found}" OR NOT EXISTS "${found}")
        set(found ${compiler_dir}/${dll})  # MinGW on Windows keeps them beside gcc.exe
      endif()
      if(NOT EXISTS "${found}")
        message(FATAL_ERROR "${dll}, which Qt's DLLs load, was not found beside the compiler")
      endif()
      get_filename_component(found ${found} REALPATH)
      list(APPEND qt_top ${found})
    endforeach()
  elseif(MSVC)
    set(CMAKE_INSTALL_SYSTEM_RUNTIME_DESTINATION .)
    set(CMAKE_INSTALL_SYSTEM_RUNTIME_COMPONENT programs)
    include(InstallRequiredSystemLibraries)
  endif()

  # Installed; a stripped install (`cmake --install --strip`, CPack) drops
  # their symbols too.
  foreach(dest top platforms styles)
    set(subdir ${dest})
    if(dest STREQUAL "top")
      set(subdir .)
    endif()
    foreach(dll IN LISTS qt_${dest})
      if(TARGET ${dll})
        set(file $<TARGET_FILE:${dll}>)
        set(name $<TARGET_FILE_NAME:${dll}>)
      else()
        set(file ${dll})
        get_filename_component(name ${dll} NAME)
      endif()
      install(FILES ${file} DESTINATION ${subdir} COMPONENT programs)
      if(CMAKE_STRIP)
        install(CODE "if(CMAKE_INSTALL_DO_STRIP)
            execute_process(COMMAND \"${CMAKE_STRIP}\" --strip-unneeded
                            \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${subdir}/${name}\")
          endif()" COMPONENT programs)
      endif()
    endforeach()
  endforeach()

  # Copied into the build's program folder, with what only the tests use.
  if(CMAKE_RUNTIME_OUTPUT_DIRECTORY)
    set(dir ${CMAKE_RUNTIME_OUTPUT_DIRECTORY})
    list(APPEND qt_platforms Qt6::QOffscreenIntegrationPlugin)
    if(TARGET Qt6::Test)
      list(APPEND qt_top Qt6::Test)
    endif()
    set(copies)
    foreach(dest top platforms styles)
      set(files)
      foreach(dll IN LISTS qt_${dest})
        if(TARGET ${dll})
          list(APPEND files $<TARGET_FILE:${dll}>)
        else()
          list(APPEND files ${dll})
        endif()
      endforeach()
      if(files)
        set(to ${dir}/${dest})
        if(dest STREQUAL "top")
          set(to ${dir})
        endif()
        list(APPEND copies COMMAND ${CMAKE_COMMAND} -E make_directory ${to}
                           COMMAND ${CMAKE_COMMAND} -E copy_if_different ${files} ${to})
      endif()
    endforeach()
    add_custom_target(orven_qt_runtime ALL ${copies} VERBATIM
                      COMMENT "Copying Qt's DLLs and plugins beside the programs")
    add_dependencies(orven-setup orven_qt_runtime)
  endif()
endif()

# A build made on Linux checks its folder: everything it loads is in it or
# is Windows' own (Wine's builtin DLLs stand for those).
if(ORVEN_BUILD_TESTS AND TARGET orven-setup AND CMAKE_CROSSCOMPILING AND CMAKE_HOST_UNIX)
  find_program(ORVEN_PE_OBJDUMP NAMES x86_64-w64-mingw32-objdump objdump REQUIRED)
  find_path(ORVEN_WINE_WINDOWS_DLLS kernel32.dll NO_CMAKE_FIND_ROOT_PATH
            PATHS /usr/lib/x86_64-linux-gnu/wine/x86_64-windows /usr/lib/wine/x86_64-windows
                  /usr/lib64/wine/x86_64-windows)
  if(ORVEN_WINE_WINDOWS_DLLS)
    add_test(NAME windows_folder
             COMMAND sh ${PROJECT_SOURCE_DIR}/tests/windows/check_folder.sh ${PROJECT_BINARY_DIR}
                     ${ORVEN_PE_OBJDUMP} ${ORVEN_WINE_WINDOWS_DLLS})
    set_tests_properties(windows_folder PROPERTIES LABELS unit)
  endif()
endif()

# ---- packages -------------------------------------------------------------------

# The folder as a ZIP, and as an installer (NSIS, from the template in
# packaging/windows/) where makensis is found: one package of everything
# installed, so the installer's uninstaller knows each file it put down.
set(CPACK_PACKAGE_NAME orven-setup)
set(CPACK_PACKAGE_VENDOR ${ORVEN_VENDOR})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})  # all four parts
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${ORVEN_PRODUCT_NAME}")
set(CPACK_PACKAGE_FILE_NAME orven-setup-${PROJECT_VERSION}-windows-x64)
set(CPACK_PACKAGE_INSTALL_DIRECTORY orven-setup)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)
set(CPACK_MONOLITHIC_INSTALL ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR ZIP)
find_program(ORVEN_MAKENSIS makensis)
if(ORVEN_MAKENSIS)
  list(APPEND CPACK_GENERATOR NSIS)
  set(CPACK_MODULE_PATH ${ORVEN_WINDOWS_PACKAGING})  # its NSIS.template.in
  set(CPACK_NSIS_DISPLAY_NAME "${ORVEN_PRODUCT_NAME}")
  set(CPACK_NSIS_PACKAGE_NAME "${ORVEN_PRODUCT_NAME}")
  # Apps & Features' key, the same for every version, so that a newer one replaces it.
  set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY orven-setup)
  set(CPACK_ORVEN_COPYRIGHT "${ORVEN_COPYRIGHT}")
  set(CPACK_ORVEN_FIREWALL_RULE_SETUP "${ORVEN_FIREWALL_RULE_SETUP}")
  set(CPACK_ORVEN_FIREWALL_RULE_CLI "${ORVEN_FIREWALL_RULE_CLI}")
  set(CPACK_ORVEN_FIREWALL_PORTS ${ORVEN_FIREWALL_PORTS})
  set(CPACK_ORVEN_ICON "${ORVEN_ICO}")
  # The Start menu entry for orven-cli's network check (orven-cli doctor in a
  # console window that stays open); none while this is empty.
  set(CPACK_ORVEN_DOCTOR_SHORTCUT "ORVEN网络诊断")
endif()
include(CPack)

# The installer, installed, used and uninstalled under Wine in a fresh prefix,
# inside the private network namespace (its programs open their sockets); one
# at a time with the other tests that do.
if(ORVEN_BUILD_TESTS AND ORVEN_MAKENSIS AND TARGET orven-setup AND CMAKE_CROSSCOMPILING AND CMAKE_HOST_UNIX)
  find_package(Python3 COMPONENTS Interpreter REQUIRED)
  add_test(NAME installer
           COMMAND ${PROJECT_SOURCE_DIR}/tools/wine-session ${Python3_EXECUTABLE}
                   ${PROJECT_SOURCE_DIR}/tests/windows/installer_test.py
                   ${CMAKE_CPACK_COMMAND} ${PROJECT_BINARY_DIR} ${PROJECT_SOURCE_DIR} ${PROJECT_VERSION})
  set_tests_properties(installer PROPERTIES LABELS "installer;netns" RUN_SERIAL TRUE TIMEOUT 1200)
endif()
