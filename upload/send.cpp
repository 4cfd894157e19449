#include "upload/upload.h"

#include "ui/message_box.h"
#include "ui/path_text.h"
#include "ui/texts.h"

#include <QString>
#include <curl/curl.h>
#include <exception>
#include <initializer_list>
#include <memory>
#include <system_error>

#ifndef ZARVIK_UPLOAD_ENDPOINT
#error "ZARVIK_UPLOAD_ENDPOINT must name the score service's upload URL"
#endif

namespace {

// Fixed at build time so that nothing at run time can send the token elsewhere.
const char upload_endpoint[] = ZARVIK_UPLOAD_ENDPOINT;

using easy_handle = std::unique_ptr<CURL, decltype(&curl_easy_cleanup)>;
using header_list = std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)>;

size_t discard_body(char*, size_t size, size_t count, void*) {
    return size * count;
}

CURLcode first_failure(std::initializer_list<CURLcode> results) {
    for (const CURLcode result : results)
        if (result != CURLE_OK)
            return result;
    return CURLE_OK;
}

// libcurl builds may carry a default CA folder (Debian's trusts every system
// CA), which would be trusted beside the bundle; it is switched off. A TLS
// backend without CA-folder support answers "not built in": it has no folder
// to switch off, so that answer, for this option alone, is success.
CURLcode no_ca_folder(CURL* curl) {
    const CURLcode result = curl_easy_setopt(curl, CURLOPT_CAPATH, nullptr);
    return result == CURLE_NOT_BUILT_IN ? CURLE_OK : result;
}

// The reason a transfer failed, in words a player can act on.
const char* failure_reason(CURLcode result) {
    switch (result) {
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
        return texts::send_failed_no_network;
    case CURLE_COULDNT_CONNECT:
        return texts::send_failed_no_connection;
    // Connecting (the TLS handshake included) and the whole transfer alike.
    case CURLE_OPERATION_TIMEDOUT:
        return texts::send_failed_timed_out;
    // A bundle that cannot be read trusts nothing, so no certificate passes.
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
        return texts::send_failed_certificate;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CLIENTCERT:
    case CURLE_SSL_ENGINE_NOTFOUND:
    case CURLE_SSL_ENGINE_SETFAILED:
    case CURLE_SSL_ENGINE_INITFAILED:
    case CURLE_SSL_SHUTDOWN_FAILED:
    case CURLE_SSL_CRL_BADFILE:
    case CURLE_USE_SSL_FAILED:
        return texts::send_failed_secure_connection;
    case CURLE_TOO_MANY_REDIRECTS:
        return texts::send_failed_too_many_redirects;
    // The endpoint is HTTPS and only HTTPS is allowed, so only a redirect
    // can lead to another protocol.
    case CURLE_UNSUPPORTED_PROTOCOL:
        return texts::send_failed_insecure_redirect;
    default:
        return texts::send_failed_other;
    }
}

// The player is told, in Turkish, that the replay was not sent and why; the
// code number lets a player quote the exact failure when asking for help.
// libcurl's own English words stay out of the box.
void show_send_failure(const char* reason, CURLcode result) {
    show_error(QString::fromUtf8(texts::send_failed) + QString::fromUtf8(reason) +
               QStringLiteral(" (curl %1)").arg(static_cast<int>(result)));
}

} // namespace

void send_to_api(const std::string& token, const th10replay& record) {
    const easy_handle curl(curl_easy_init(), &curl_easy_cleanup);
    if (!curl)
        return;

    const std::string report = make_json(token, record);

    // Without its one header the service would refuse the report, so a list
    // that cannot be made is treated like a handle that cannot be made.
    const header_list headers(curl_slist_append(nullptr, "Content-Type: application/json"),
                              &curl_slist_free_all);
    if (!headers)
        return;

    std::filesystem::path bundle;
    std::string bundle_name;
    try {
        bundle = executable_directory() / "cacert.pem";
        // libcurl hands the name to OpenSSL, which reads it as UTF-8 on
        // Windows; elsewhere a file name is its bytes. (string() would give
        // the ANSI code page with some Windows compilers, and fail or name
        // another file for a folder outside it.) A folder name without a
        // UTF-8 form names no file, and the transfer fails on the bundle.
        bundle_name = utf8_path(bundle);
    } catch (const std::exception& failure) {
        show_error(QString::fromUtf8(failure.what()));
        return;
    }

    // A bundle whose presence cannot even be checked is as good as missing.
    std::error_code check_failure;
    if (!std::filesystem::exists(bundle, check_failure)) {
        show_error(QString::fromUtf8(texts::missing_ca));
        return;
    }

    // Braced lists are evaluated in order, so the options are set as listed.
    // Every option is checked: one left unset (the protocol limits or the CA
    // file above all) would weaken the transfer instead of stopping it.
    const CURLcode setup = first_failure({
        curl_easy_setopt(curl.get(), CURLOPT_URL, upload_endpoint),
        // The token is in the body: neither the request nor a redirect may
        // leave TLS, or a 307/308 to http:// would repeat it in clear text.
        curl_easy_setopt(curl.get(), CURLOPT_PROTOCOLS_STR, "https"),
        curl_easy_setopt(curl.get(), CURLOPT_REDIR_PROTOCOLS_STR, "https"),
        curl_easy_setopt(curl.get(), CURLOPT_HTTPHEADER, headers.get()),
        curl_easy_setopt(curl.get(), CURLOPT_POST, 1L),
        // The report escapes every byte below 0x20, so it holds no NUL and
        // its length up to the terminator is its whole length.
        curl_easy_setopt(curl.get(), CURLOPT_POSTFIELDS, report.c_str()),
        curl_easy_setopt(curl.get(), CURLOPT_SSL_VERIFYPEER, 1L),
        curl_easy_setopt(curl.get(), CURLOPT_SSL_VERIFYHOST, 2L),
        curl_easy_setopt(curl.get(), CURLOPT_CAINFO, bundle_name.c_str()),
        no_ca_folder(curl.get()),
        curl_easy_setopt(curl.get(), CURLOPT_CONNECTTIMEOUT, 5L),
        curl_easy_setopt(curl.get(), CURLOPT_TIMEOUT, 15L),
        curl_easy_setopt(curl.get(), CURLOPT_FOLLOWLOCATION, 1L),
        curl_easy_setopt(curl.get(), CURLOPT_MAXREDIRS, 3L),
        curl_easy_setopt(curl.get(), CURLOPT_WRITEFUNCTION, discard_body),
    });
    if (setup != CURLE_OK) {
        show_send_failure(texts::send_failed_not_prepared, setup);
        return;
    }

    // A failed transfer must not look like a successful one: whatever the
    // last response code says, the report did not arrive.
    const CURLcode result = curl_easy_perform(curl.get());
    if (result != CURLE_OK) {
        show_send_failure(failure_reason(result), result);
        return;
    }

    long status = 0;
    curl_easy_getinfo(curl.get(), CURLINFO_RESPONSE_CODE, &status);
    // 409: the service already holds this replay, which is what was wanted.
    if (status > 399 && status != 409)
        show_error(QString::number(status));
}
