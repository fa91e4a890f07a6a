# The program folder as it goes to a Windows workstation, and its packages.
#
# `cmake --install` fills one flat folder: orven-setup.exe, orven-devsim.exe and
# ORVENAPI3.dll, the Qt DLLs beside them, the platform and style plugins in
# platforms/ and styles/, and the compiler's runtime DLLs that Qt's own DLLs
# load -- what windeployqt leaves beside a program -- so that the folder runs
# on a Windows that has nothing installed. CPack packs that folder as a ZIP,
# and as an NSIS installer where makensis is found.
#
# Included from the top-level CMakeLists.txt on Windows, after the targets.

if(TARGET orven-setup)
  # A windowed program: no console window opens beside it. Qt links its own
  # WinMain, which calls main().
  set_target_properties(orven-setup PROPERTIES WIN32_EXECUTABLE ON)
endif()

if(MINGW)
  # The compiler's runtime (libgcc, libstdc++, winpthread) goes into the
  # programs themselves, so they need no MinGW DLL of their own. (Qt's DLLs
  # still load theirs; those are installed below.)
  foreach(program orven-setup orven-devsim)
    if(TARGET ${program})
      target_link_options(${program} PRIVATE -static)
    endif()
  endforeach()
endif()

# ---- the program folder ---------------------------------------------------

set(ORVEN_WINDOWS_PROGRAMS orven-setup orven-devsim)
foreach(program IN LISTS ORVEN_WINDOWS_PROGRAMS)
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION . COMPONENT programs)
  endif()
endforeach()

# The device-protocol library the programs load: the stand-in, or the
# vendor's DLL when one was named.
if(ORVENAPI3_LIBRARY MATCHES "\\.[dD][lL][lL]$")
  install(FILES ${ORVENAPI3_LIBRARY} DESTINATION . COMPONENT programs)
elseif(NOT ORVENAPI3_LIBRARY)
  install(TARGETS ORVENAPI3 RUNTIME DESTINATION . COMPONENT programs
          ARCHIVE DESTINATION lib COMPONENT development EXCLUDE_FROM_ALL)
endif()

# Installs a DLL that is not ours (an imported target of Qt's, or a file of
# the compiler's runtime) into DEST; a stripped install (`cmake --install
# --strip`, CPack) drops its symbols too.
function(orven_install_dll dll dest)
  if(TARGET ${dll})
    set(file $<TARGET_FILE:${dll}>)
    set(name $<TARGET_FILE_NAME:${dll}>)
  else()
    set(file ${dll})
    get_filename_component(name "${dll}" NAME)
  endif()
  install(FILES ${file} DESTINATION ${dest} COMPONENT programs)
  if(CMAKE_STRIP)
    install(CODE "
      if(CMAKE_INSTALL_DO_STRIP)
        execute_process(COMMAND \"${CMAKE_STRIP}\" --strip-unneeded
                        \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${dest}/${name}\")
      endif()" COMPONENT programs)
  endif()
endfunction()

if(TARGET orven-setup)
  # Qt's DLLs beside the program, its plugins in the subfolders Qt looks for
  # beside the program: the platform plugin (without it nothing starts) and
  # the native style.
  foreach(module Core Gui Widgets)
    orven_install_dll(Qt6::${module} .)
  endforeach()
  orven_install_dll(Qt6::QWindowsIntegrationPlugin platforms)
  foreach(style Qt6::QModernWindowsStylePlugin Qt6::QWindowsVistaStylePlugin)
    if(TARGET ${style})
      orven_install_dll(${style} styles)
    endif()
  endforeach()

  # The compiler runtime that Qt's DLLs were linked against.
  if(MINGW)
    get_filename_component(compiler_dir ${CMAKE_CXX_COMPILER} DIRECTORY)
    foreach(dll libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
      execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll}
                      OUTPUT_VARIABLE found OUTPUT_STRIP_TRAILING_WHITESPACE)
      if(NOT IS_ABSOLUTE "${found}" OR NOT EXISTS "${found}")
        # MinGW on Windows keeps them beside gcc.exe.
        set(found ${compiler_dir}/${dll})
      endif()
      if(NOT EXISTS "${found}")
        message(FATAL_ERROR "The MinGW runtime DLL ${dll} that Qt needs was not found")
      endif()
      get_filename_component(found ${found} REALPATH)
      orven_install_dll(${found} .)
    endforeach()
  elseif(MSVC)
    set(CMAKE_INSTALL_SYSTEM_RUNTIME_DESTINATION .)
    set(CMAKE_INSTALL_SYSTEM_RUNTIME_COMPONENT programs)
    include(InstallRequiredSystemLibraries)
  endif()
endif()

# ---- packages ---------------------------------------------------------------

set(CPACK_PACKAGE_NAME orven-setup)
set(CPACK_PACKAGE_VENDOR ORVEN)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "ORVEN网络设备现场设置程序")
set(CPACK_PACKAGE_FILE_NAME orven-setup-${PROJECT_VERSION}-windows-x64)
set(CPACK_PACKAGE_INSTALL_DIRECTORY orven-setup)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)
set(CPACK_COMPONENTS_ALL programs)
set(CPACK_ARCHIVE_COMPONENT_INSTALL OFF)
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR ZIP)
find_program(ORVEN_MAKENSIS makensis)
if(ORVEN_MAKENSIS)
  list(APPEND CPACK_GENERATOR NSIS)
  set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
  set(CPACK_NSIS_DISPLAY_NAME "ORVEN网络设备现场设置程序")
  set(CPACK_NSIS_PACKAGE_NAME "ORVEN网络设备现场设置程序")
  set(CPACK_NSIS_MUI_FINISHPAGE_RUN orven-setup.exe)
  set(CPACK_NSIS_INSTALLED_ICON_NAME orven-setup.exe)
  set(CPACK_NSIS_MENU_LINKS orven-setup.exe "ORVEN网络设备现场设置程序")
  set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL ON)
endif()
include(CPack)
