# Installs beside zarvik.exe the DLLs that it and Qt's plugins import, and
# what those import in turn, from zarvik_dll_folders, and lists every DLL the
# folder ships, with where it came from, in zarvik_shipped_list (one
# "NAME<tab>SOURCE" a line). A DLL found in none of the folders must be a part
# of Windows itself, which MinGW-w64 knows by its import library; one that is
# neither stops the install.
set(CMAKE_GET_RUNTIME_DEPENDENCIES_PLATFORM windows+pe)
set(CMAKE_GET_RUNTIME_DEPENDENCIES_TOOL objdump)
set(CMAKE_GET_RUNTIME_DEPENDENCIES_COMMAND x86_64-w64-mingw32-objdump)
set(folder "${CMAKE_INSTALL_PREFIX}/zarvik")
file(GET_RUNTIME_DEPENDENCIES
  EXECUTABLES "${folder}/zarvik.exe"
  MODULES "${folder}/platforms/qwindows.dll" "${folder}/styles/qwindowsvistastyle.dll"
  DIRECTORIES ${zarvik_dll_folders}
  RESOLVED_DEPENDENCIES_VAR dlls
  UNRESOLVED_DEPENDENCIES_VAR unresolved)
foreach(dll IN LISTS unresolved)
  string(TOLOWER "${dll}" name)
  string(REGEX REPLACE "\\.dll$" "" name "${name}")
  if(NOT name MATCHES "^(api|ext)-ms-win-" AND NOT EXISTS "/usr/x86_64-w64-mingw32/lib/lib${name}.a")
    message(FATAL_ERROR "The program needs ${dll}, which is neither built here nor part of Windows")
  endif()
endforeach()
file(INSTALL ${dlls} DESTINATION "${folder}")
set(shipped ${zarvik_plugins})
foreach(dll IN LISTS dlls)
  get_filename_component(name "${dll}" NAME)
  list(APPEND shipped "${name}\t${dll}")
endforeach()
list(JOIN shipped "\n" shipped)
file(WRITE "${zarvik_shipped_list}" "${shipped}\n")
