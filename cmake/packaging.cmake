# The folder a player drops below the game folder: the program, the CA bundle
# it trusts and the licence texts of what it ships or links, and on Windows
# the DLLs and Qt plugins it needs. `cmake --install` writes it as
# <prefix>/zarvik; the package scripts pack it.

# The certificate authorities the program trusts: Mozilla's public set as
# Debian's ca-certificates package ships it, one file per authority, joined
# in name order so that a package version always gives the same bytes. Never
# the build machine's merged trust store (/etc/ssl/certs), which also holds
# whatever authorities an administrator added there: a company's
# TLS-inspection CA in a player's bundle could read every token sent.
set(ZARVIK_CA_BUNDLE "" CACHE FILEPATH
    "PEM bundle installed beside the program as cacert.pem (empty: Mozilla's set from ca-certificates)")
set(zarvik_public_cas /usr/share/ca-certificates/mozilla)
set(zarvik_ca_bundle "${ZARVIK_CA_BUNDLE}")
if(NOT zarvik_ca_bundle AND IS_DIRECTORY "${zarvik_public_cas}")
  file(GLOB zarvik_ca_files LIST_DIRECTORIES false "${zarvik_public_cas}/*.crt")
  list(SORT zarvik_ca_files)
  set(zarvik_ca_text "")
  foreach(ca_file IN LISTS zarvik_ca_files)
    file(READ "${ca_file}" ca_pem)
    string(STRIP "${ca_pem}" ca_pem)
    string(APPEND zarvik_ca_text "${ca_pem}\n")
  endforeach()
  if(zarvik_ca_text)
    set(zarvik_ca_bundle "${PROJECT_BINARY_DIR}/public-cas.pem")
    file(CONFIGURE OUTPUT "${zarvik_ca_bundle}" CONTENT "${zarvik_ca_text}" @ONLY)
  endif()
endif()
# Elsewhere (a Windows build machine, say) the builder names a bundle, such
# as curl's cacert.pem, which is the same Mozilla set.

# The settings the program is built with, as lines of the package's build
# record: read back from what this configuration compiles and installs, so
# that the record states what was built, not what a script was asked for.
get_target_property(zarvik_upload_definitions zarvik_upload COMPILE_DEFINITIONS)
string(REGEX MATCH "ZARVIK_UPLOAD_ENDPOINT=\"([^\"]*)\"" zarvik_matched "${zarvik_upload_definitions}")
set(zarvik_build_settings "Upload-URL: ${CMAKE_MATCH_1}\nBuild-Type: ${CMAKE_BUILD_TYPE}\n")
if(NOT EXISTS "${zarvik_ca_bundle}")
  string(APPEND zarvik_build_settings "CA-Bundle: none\n")
elseif(ZARVIK_CA_BUNDLE)
  file(SHA256 "${ZARVIK_CA_BUNDLE}" zarvik_ca_sha256)
  string(APPEND zarvik_build_settings "CA-Bundle: given by the builder, SHA-256 ${zarvik_ca_sha256}\n")
else()
  string(APPEND zarvik_build_settings "CA-Bundle: the public set of ca-certificates\n")
endif()
file(CONFIGURE OUTPUT "${PROJECT_BINARY_DIR}/build-settings.txt" CONTENT "${zarvik_build_settings}" @ONLY)

install(TARGETS zarvik RUNTIME DESTINATION zarvik)
if(zarvik_ca_bundle AND EXISTS "${zarvik_ca_bundle}")
  install(FILES "${zarvik_ca_bundle}" DESTINATION zarvik RENAME cacert.pem)
else()
  message(WARNING "No CA bundle at '${zarvik_ca_bundle}': the installed folder will lack "
                  "cacert.pem and every upload will say \"Kayıp CA\". Set ZARVIK_CA_BUNDLE.")
endif()

if(WIN32 AND CMAKE_CROSSCOMPILING)
  # Qt finds its plugins beside the program (its built-in qt.conf). The DLLs
  # that the program and the plugins import, and what those import in turn,
  # come from the libraries built for Windows or the MinGW-w64 runtime; the
  # Windows test suites run with the same folders on Wine's PATH (tests/).
  install(FILES $<TARGET_FILE:Qt6::QWindowsIntegrationPlugin> DESTINATION zarvik/platforms)
  install(FILES $<TARGET_FILE:Qt6::QWindowsVistaStylePlugin> DESTINATION zarvik/styles)
  set(zarvik_dll_folders "")
  foreach(prefix IN LISTS ZARVIK_WIN64_PREFIXES)
    list(APPEND zarvik_dll_folders "${prefix}/bin")
  endforeach()
  file(GLOB zarvik_mingw_runtime /usr/lib/gcc/x86_64-w64-mingw32/*-posix)
  list(APPEND zarvik_dll_folders ${zarvik_mingw_runtime} /usr/x86_64-w64-mingw32/lib)
  install(CODE "
    set(zarvik_dll_folders \"${zarvik_dll_folders}\")
    set(zarvik_plugins \"platforms/qwindows.dll\t$<TARGET_FILE:Qt6::QWindowsIntegrationPlugin>\"
                       \"styles/qwindowsvistastyle.dll\t$<TARGET_FILE:Qt6::QWindowsVistaStylePlugin>\")
    set(zarvik_dll_names \"${PROJECT_BINARY_DIR}/dll-names\")
    set(zarvik_shipped_list \"${PROJECT_BINARY_DIR}/shipped-dlls.txt\")")
  install(SCRIPT ${CMAKE_CURRENT_LIST_DIR}/install_dlls.cmake)
endif()

if(WIN32)
  # A short text for players, in Turkish, with a BOM and CRLF line ends so
  # that Notepad shows it right.
  configure_file(${PROJECT_SOURCE_DIR}/app/resources/BENIOKU.txt.in
                 ${PROJECT_BINARY_DIR}/BENIOKU.txt @ONLY NEWLINE_STYLE CRLF)
  install(FILES ${PROJECT_BINARY_DIR}/BENIOKU.txt DESTINATION zarvik)
endif()

# Licence texts, as the Debian packages that the libraries come from state
# them, and the full texts those statements refer to.
set(zarvik_licenses
  "zarvik.txt=${PROJECT_SOURCE_DIR}/LICENSE"
  "qt.txt=/usr/share/doc/libqt6core6/copyright"
  "qt-translations.txt=/usr/share/doc/qt6-translations-l10n/copyright"
  "openssl.txt=/usr/share/doc/libssl3/copyright"
  "curl.txt=/usr/share/doc/libcurl4/copyright"
  "LGPL-3.txt=/usr/share/common-licenses/LGPL-3"
  "GPL-2.txt=/usr/share/common-licenses/GPL-2"
  "GPL-3.txt=/usr/share/common-licenses/GPL-3"
  "Apache-2.0.txt=/usr/share/common-licenses/Apache-2.0")
if(zarvik_ca_files)
  # Mozilla's set of authorities, as cacert.pem.
  list(APPEND zarvik_licenses "MPL-2.0.txt=/usr/share/common-licenses/MPL-2.0")
endif()
if(WIN32)
  # The MinGW-w64 runtime DLLs shipped beside the program.
  list(APPEND zarvik_licenses
    "gcc-runtime.txt=/usr/share/doc/gcc-mingw-w64-base/copyright"
    "mingw-w64-runtime.txt=/usr/share/doc/mingw-w64-common/copyright")
endif()
# The system's files that the folder holds or the program builds in, for the
# package's build record (scripts/lib/buildinfo.sh): their Debian packages are
# among its inputs.
set(zarvik_system_files "${ZARVIK_QT_TRANSLATION}")
if(zarvik_ca_files)
  list(APPEND zarvik_system_files "${zarvik_public_cas}")
endif()
foreach(license IN LISTS zarvik_licenses)
  string(REGEX REPLACE "=.*" "" name "${license}")
  string(REGEX REPLACE "^[^=]*=" "" file "${license}")
  if(EXISTS "${file}")
    install(FILES "${file}" DESTINATION zarvik/licenses RENAME "${name}")
    list(APPEND zarvik_system_files "${file}")
  else()
    message(WARNING "No licence text at '${file}': the installed folder will lack licenses/${name}")
  endif()
endforeach()
list(JOIN zarvik_system_files "\n" zarvik_system_files)
file(CONFIGURE OUTPUT "${PROJECT_BINARY_DIR}/system-files.txt" CONTENT "${zarvik_system_files}\n" @ONLY)
