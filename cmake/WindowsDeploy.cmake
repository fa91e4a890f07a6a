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

set(CPACK_PACKAGE_NAME orven-setup)
set(CPACK_PACKAGE_VENDOR ORVEN)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "ORVEN网络设备现场设置程序")
set(CPACK_PACKAGE_FILE_NAME orven-setup-${PROJECT_VERSION}-windows-x64)
set(CPACK_PACKAGE_INSTALL_DIRECTORY orven-setup)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)
set(CPACK_COMPONENTS_ALL programs)
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR ZIP)
find_program(ORVEN_MAKENSIS makensis)
if(ORVEN_MAKENSIS)
  list(APPEND CPACK_GENERATOR NSIS)
  set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
  set(CPACK_NSIS_DISPLAY_NAME "ORVEN网络设备现场设置程序")
  set(CPACK_NSIS_PACKAGE_NAME "ORVEN网络设备现场设置程序")
  set(CPACK_NSIS_MENU_LINKS orven-setup.exe "ORVEN网络设备现场设置程序")
  set(CPACK_NSIS_MUI_FINISHPAGE_RUN orven-setup.exe)
  set(CPACK_NSIS_INSTALLED_ICON_NAME orven-setup.exe)
  set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL ON)
endif()
include(CPack)
