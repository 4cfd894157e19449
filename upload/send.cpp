#include "upload/send.h"

#include "ui/message_box.h"
#include "ui/texts.h"
#include "upload/executable_directory.h"
#include "upload/path_text.h"
#include "upload/report.h"

#include <QString>
#include <curl/curl.h>
#include <exception>
#include <initializer_list>
#include <memory>
#include <string>
#include <system_error>

#ifndef ZARVIK_UPLOAD_ENDPOINT
#error "ZARVIK_UPLOAD_ENDPOINT must name the score service's upload URL"
#endif

namespace {

// Fixed at build time so that nothing at run time can send the token elsewhere.
const char upload_endpoint[] = ZARVIK_UPLOAD_ENDPOINT;

using easy_handle = std::unique_ptr<CURL, decltype(&curl_easy_cleanup)>;
using header_list = std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)>;
using url_handle = std::unique_ptr<CURLU, decltype(&curl_url_cleanup)>;

size_t discard_body(char*, size_t size, size_t count, void*) {
    return size * count;
}

// One part of a parsed URL; empty when it has none.
std::string url_part(CURLU* url, CURLUPart part, unsigned int flags = 0) {
    char* text = nullptr;
    if (curl_url_get(url, part, &text, flags) != CURLUE_OK)
        return {};
    std::string copy = text;
    curl_free(text);
    return copy;
}

// Whether a redirect from `current` to `location` stays on the upload
// endpoint's scheme, host and port. The target is resolved as libcurl
// resolves the redirect it follows (same URL parser, same flags), so what
// is checked here is where libcurl would go. A URL that cannot be parsed
// goes nowhere that is known to be safe.
bool stays_with_the_service(const char* current, const char* location) {
    const url_handle endpoint(curl_url(), &curl_url_cleanup);
    const url_handle target(curl_url(), &curl_url_cleanup);
    if (!endpoint || !target ||
        curl_url_set(endpoint.get(), CURLUPART_URL, upload_endpoint, 0) != CURLUE_OK ||
        curl_url_set(target.get(), CURLUPART_URL, current, 0) != CURLUE_OK ||
        curl_url_set(target.get(), CURLUPART_URL, location, CURLU_URLENCODE | CURLU_ALLOW_SPACE) !=
            CURLUE_OK)
        return false;
    const std::string host = url_part(target.get(), CURLUPART_HOST);
    // Scheme and host names are alike in any letter case; a port given or
    // not is compared as the number it stands for.
    return curl_strequal(url_part(target.get(), CURLUPART_SCHEME).c_str(),
                         url_part(endpoint.get(), CURLUPART_SCHEME).c_str()) &&
           !host.empty() &&
           curl_strequal(host.c_str(), url_part(endpoint.get(), CURLUPART_HOST).c_str()) &&
           url_part(target.get(), CURLUPART_PORT, CURLU_DEFAULT_PORT) ==
               url_part(endpoint.get(), CURLUPART_PORT, CURLU_DEFAULT_PORT);
}

// The token is in the body, and libcurl repeats the body on a 307 or 308
// (and here on a 301 or 302) to whatever host the Location names. libcurl
// follows only once the redirecting response has ended, and keeps each
// header line before it calls this, so a redirect to anywhere but the
// service is stopped here, on its Location line at the latest, before any
// connection to the new address. Stopping it fails the transfer with
// CURLE_WRITE_ERROR.
size_t refuse_redirect_elsewhere(char*, size_t size, size_t count, void* handle) {
    CURL* curl = static_cast<CURL*>(handle);
    const size_t go_on = size * count;
    long status = 0;
    if (curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status) != CURLE_OK)
        return 0;
    if (status < 300 || status > 399)
        return go_on;
    curl_header* location = nullptr;
    const CURLHcode found = curl_easy_header(curl, "Location", 0, CURLH_HEADER, -1, &location);
    if (found == CURLHE_MISSING || found == CURLHE_NOHEADERS)
        return go_on;
    if (found != CURLHE_OK)
        return 0;
    // libcurl follows no empty Location.
    if (location->value[0] == '\0')
        return go_on;
    const char* current = nullptr;
    if (curl_easy_getinfo(curl, CURLINFO_EFFECTIVE_URL, &current) != CURLE_OK || !current)
        return 0;
    return stays_with_the_service(current, location->value) ? go_on : 0;
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
    // The body is discarded without fail, so the one write that fails is the
    // header check refusing a redirect away from the service, plain HTTP
    // included.
    case CURLE_WRITE_ERROR:
        return texts::send_failed_other_origin;
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
    if (!curl) {
        show_send_failure(texts::send_failed_not_prepared, CURLE_FAILED_INIT);
        return;
    }

    const std::string report = make_json(token, record);

    // Without its one header the service would refuse the report, so a list
    // that cannot be made is treated like a handle that cannot be made.
    const header_list headers(curl_slist_append(nullptr, "Content-Type: application/json"),
                              &curl_slist_free_all);
    if (!headers) {
        show_send_failure(texts::send_failed_not_prepared, CURLE_OUT_OF_MEMORY);
        return;
    }

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
        // Fixed here rather than left to the TLS library's defaults of the day.
        curl_easy_setopt(curl.get(), CURLOPT_SSLVERSION,
                         static_cast<long>(CURL_SSLVERSION_TLSv1_2)),
        curl_easy_setopt(curl.get(), CURLOPT_CAINFO, bundle_name.c_str()),
        no_ca_folder(curl.get()),
        curl_easy_setopt(curl.get(), CURLOPT_CONNECTTIMEOUT, 5L),
        curl_easy_setopt(curl.get(), CURLOPT_TIMEOUT, 15L),
        // Without this, libcurl waits out a name look-up that a time-out cut
        // short, past both limits: the system's resolver asks each name
        // server in turn and again, and name servers that never answer held
        // each replay for 20 to 30 s. With it the look-up's thread is left to
        // end on its own, and to free what it holds.
        curl_easy_setopt(curl.get(), CURLOPT_QUICK_EXIT, 1L),
        curl_easy_setopt(curl.get(), CURLOPT_FOLLOWLOCATION, 1L),
        curl_easy_setopt(curl.get(), CURLOPT_MAXREDIRS, 3L),
        // A moved upload address takes the report as it is: libcurl's default
        // turns a POST into a GET without a body on a 301 or 302, and the
        // report would be lost while the answer looks like success. A 303
        // says the report was handled, and keeps that default.
        curl_easy_setopt(curl.get(), CURLOPT_POSTREDIR,
                         static_cast<long>(CURL_REDIR_POST_301 | CURL_REDIR_POST_302)),
        curl_easy_setopt(curl.get(), CURLOPT_HEADERFUNCTION, refuse_redirect_elsewhere),
        curl_easy_setopt(curl.get(), CURLOPT_HEADERDATA, static_cast<void*>(curl.get())),
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
    const CURLcode status_read = curl_easy_getinfo(curl.get(), CURLINFO_RESPONSE_CODE, &status);
    if (status_read != CURLE_OK) {
        show_send_failure(failure_reason(status_read), status_read);
        return;
    }
    // Only a 2xx delivers the report; a transfer that ends on a redirect
    // (one without a Location, say) has not. 409: the service already holds
    // this replay, which is what was wanted.
    if ((status < 200 || status > 299) && status != 409)
        show_error(QString::number(status));
}
