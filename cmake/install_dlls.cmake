# Installs beside zarvik.exe the DLLs that it and Qt's plugins import, and
# what those import in turn, from zarvik_dll_folders (the first holding a
# name wins, seen through zarvik_dll_names: see below), and lists every DLL the folder ships, with where it came from,
# in zarvik_shipped_list (one "NAME<tab>SOURCE" a line). A DLL found in none
# of the folders must be a part of Windows itself, which MinGW-w64 knows by
# its import library; one that is neither stops the install.
#
# CMake looks a DLL up by its name in lower case, as Windows would, which a
# Linux file system does not: the folders are seen through links named both
# ways.
set(names "${zarvik_dll_names}")
file(REMOVE_RECURSE "${names}")
file(MAKE_DIRECTORY "${names}")
foreach(folder IN LISTS zarvik_dll_folders)
  file(GLOB dlls LIST_DIRECTORIES false "${folder}/*.dll")
  foreach(dll IN LISTS dlls)
    get_filename_component(name "${dll}" NAME)
    string(TOLOWER "${name}" lower)
    foreach(link IN ITEMS "${name}" "${lower}")
      if(NOT EXISTS "${names}/${link}")
        file(CREATE_LINK "${dll}" "${names}/${link}" SYMBOLIC)
      endif()
    endforeach()
  endforeach()
endforeach()

set(CMAKE_GET_RUNTIME_DEPENDENCIES_PLATFORM windows+pe)
set(CMAKE_GET_RUNTIME_DEPENDENCIES_TOOL objdump)
set(CMAKE_GET_RUNTIME_DEPENDENCIES_COMMAND x86_64-w64-mingw32-objdump)
set(folder "${CMAKE_INSTALL_PREFIX}/zarvik")
file(GET_RUNTIME_DEPENDENCIES
  EXECUTABLES "${folder}/zarvik.exe"
  MODULES "${folder}/platforms/qwindows.dll" "${folder}/styles/qwindowsvistastyle.dll"
  DIRECTORIES "${names}"
  RESOLVED_DEPENDENCIES_VAR linked
  UNRESOLVED_DEPENDENCIES_VAR unresolved)
foreach(dll IN LISTS unresolved)
  string(TOLOWER "${dll}" name)
  string(REGEX REPLACE "\\.dll$" "" name "${name}")
  if(NOT name MATCHES "^(api|ext)-ms-win-" AND NOT EXISTS "/usr/x86_64-w64-mingw32/lib/lib${name}.a")
    message(FATAL_ERROR "The program needs ${dll}, which is neither built here nor part of Windows")
  endif()
endforeach()
set(shipped ${zarvik_plugins})
foreach(link IN LISTS linked)
  get_filename_component(dll "${link}" REALPATH)
  get_filename_component(name "${dll}" NAME)
  file(INSTALL "${dll}" DESTINATION "${folder}")
  list(APPEND shipped "${name}\t${dll}")
endforeach()
list(JOIN shipped "\n" shipped)
file(WRITE "${zarvik_shipped_list}" "${shipped}\n")
