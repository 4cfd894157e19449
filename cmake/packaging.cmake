# The folder a player drops below the game folder: the program, the CA bundle
# it trusts and the licence texts of what it ships or links. `cmake --install`
# writes it as <prefix>/zarvik; CPack packs the same folder. The Windows
# package adds the DLLs and Qt plugins (scripts/windows.sh).

if(CMAKE_HOST_UNIX AND EXISTS /etc/ssl/certs/ca-certificates.crt)
  # The system's bundle (Debian's ca-certificates), taken at build time; for
  # Windows too, which keeps no PEM bundle of its own.
  set(zarvik_default_ca_bundle /etc/ssl/certs/ca-certificates.crt)
else()
  # On a Windows build machine: curl's own bundle (cacert.pem, as curl
  # publishes it), named by the builder.
  set(zarvik_default_ca_bundle "")
endif()
set(ZARVIK_CA_BUNDLE "${zarvik_default_ca_bundle}" CACHE FILEPATH
    "PEM bundle of the certificate authorities installed beside the program as cacert.pem")

install(TARGETS zarvik RUNTIME DESTINATION zarvik)
if(ZARVIK_CA_BUNDLE AND EXISTS "${ZARVIK_CA_BUNDLE}")
  install(FILES "${ZARVIK_CA_BUNDLE}" DESTINATION zarvik RENAME cacert.pem)
else()
  message(WARNING "No CA bundle at '${ZARVIK_CA_BUNDLE}': the installed folder will lack "
                  "cacert.pem and every upload will say \"Kayıp CA\". Set ZARVIK_CA_BUNDLE.")
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
  "GPL-3.txt=/usr/share/common-licenses/GPL-3"
  "Apache-2.0.txt=/usr/share/common-licenses/Apache-2.0")
if(WIN32)
  # The MinGW-w64 runtime DLLs shipped beside the program.
  list(APPEND zarvik_licenses
    "gcc-runtime.txt=/usr/share/doc/gcc-mingw-w64-base/copyright"
    "mingw-w64-runtime.txt=/usr/share/doc/mingw-w64-common/copyright")
endif()
foreach(license IN LISTS zarvik_licenses)
  string(REGEX REPLACE "=.*" "" name "${license}")
  string(REGEX REPLACE "^[^=]*=" "" file "${license}")
  if(EXISTS "${file}")
    install(FILES "${file}" DESTINATION zarvik/licenses RENAME "${name}")
  else()
    message(WARNING "No licence text at '${file}': the installed folder will lack licenses/${name}")
  endif()
endforeach()

set(CPACK_PACKAGE_NAME zarvik)
set(CPACK_PACKAGE_VENDOR "The Zarvik developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Reports th10 replays to a score-tracking service")
set(CPACK_RESOURCE_FILE_LICENSE "${PROJECT_SOURCE_DIR}/LICENSE")
# The archive holds the zarvik folder itself, ready to be unpacked in the game folder.
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
if(WIN32)
  set(CPACK_PACKAGE_FILE_NAME "zarvik-${PROJECT_VERSION}-win64")
  set(CPACK_GENERATOR ZIP)
else()
  set(CPACK_PACKAGE_FILE_NAME "zarvik-${PROJECT_VERSION}-${CMAKE_SYSTEM_NAME}")
  set(CPACK_GENERATOR TGZ)
endif()
include(CPack)
