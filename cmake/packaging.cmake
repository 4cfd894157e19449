# The folder a player drops below the game folder: the program and the CA
# bundle it trusts, side by side. `cmake --install` writes it as
# <prefix>/zarvik; CPack packs the same folder.

if(WIN32)
  # curl's own bundle (cacert.pem, as curl publishes it); nothing on Windows
  # provides one in PEM form.
  set(zarvik_default_ca_bundle "")
else()
  set(zarvik_default_ca_bundle "/etc/ssl/certs/ca-certificates.crt")
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

set(CPACK_PACKAGE_NAME zarvik)
set(CPACK_PACKAGE_VENDOR "Zarvik")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Reports th10 replays to a score-tracking service")
set(CPACK_PACKAGE_FILE_NAME "zarvik-${PROJECT_VERSION}-${CMAKE_SYSTEM_NAME}")
# The archive holds the zarvik folder itself, ready to be unpacked in the game folder.
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
if(WIN32)
  set(CPACK_GENERATOR ZIP)
else()
  set(CPACK_GENERATOR TGZ)
endif()
include(CPack)
