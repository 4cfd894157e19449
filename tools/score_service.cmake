# The local score service: a library for in-process use by tests, and the
# zarvik-score-service program for the demo. Also generates its certificates.

find_package(Threads REQUIRED)
find_package(nlohmann_json REQUIRED)
if(WIN32)
  # cpp-httplib's single header, as its sources ship it, with TLS through
  # OpenSSL and Windows' sockets.
  find_path(ZARVIK_HTTPLIB_INCLUDE_DIR httplib.h REQUIRED)
  add_library(zarvik_httplib INTERFACE)
  target_include_directories(zarvik_httplib INTERFACE ${ZARVIK_HTTPLIB_INCLUDE_DIR})
  target_compile_definitions(zarvik_httplib INTERFACE CPPHTTPLIB_OPENSSL_SUPPORT)
  target_link_libraries(zarvik_httplib INTERFACE ws2_32 crypt32)
else()
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(CPP_HTTPLIB REQUIRED IMPORTED_TARGET cpp-httplib)
  add_library(zarvik_httplib ALIAS PkgConfig::CPP_HTTPLIB)
endif()

# Throw-away TLS material, made in the build tree and never committed.
set(zarvik_test_cert_dir ${CMAKE_CURRENT_BINARY_DIR}/test-certs)
set(zarvik_test_cert_files
  ${zarvik_test_cert_dir}/ca.pem
  ${zarvik_test_cert_dir}/server.pem ${zarvik_test_cert_dir}/server.key
  ${zarvik_test_cert_dir}/wrong-host.pem ${zarvik_test_cert_dir}/wrong-host.key
  ${zarvik_test_cert_dir}/stranger.pem ${zarvik_test_cert_dir}/stranger.key)
add_custom_command(
  OUTPUT ${zarvik_test_cert_files}
  COMMAND bash ${PROJECT_SOURCE_DIR}/testkit/make_test_certs.sh ${zarvik_test_cert_dir}
  DEPENDS ${PROJECT_SOURCE_DIR}/testkit/make_test_certs.sh
  COMMENT "Generating test certificates"
  VERBATIM)
add_custom_target(zarvik_test_certs DEPENDS ${zarvik_test_cert_files})

add_library(zarvik_score_service STATIC ${CMAKE_CURRENT_SOURCE_DIR}/score_service.cpp)
target_include_directories(zarvik_score_service PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(zarvik_score_service
  PUBLIC zarvik_httplib OpenSSL::SSL OpenSSL::Crypto Threads::Threads
  PRIVATE nlohmann_json::nlohmann_json)
# Users find the certificates through ZARVIK_TEST_CERT_DIR, and get them built.
target_compile_definitions(zarvik_score_service
  PUBLIC ZARVIK_TEST_CERT_DIR="${zarvik_test_cert_dir}")
add_dependencies(zarvik_score_service zarvik_test_certs)

# The demo's service program runs on the build machine only.
if(NOT WIN32)
  add_executable(zarvik-score-service ${CMAKE_CURRENT_SOURCE_DIR}/score_service_main.cpp)
  target_link_libraries(zarvik-score-service PRIVATE zarvik_score_service)
endif()
