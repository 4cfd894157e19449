#include "upload/send.h"

#include "ui/message_box.h"
#include "ui/texts.h"
#include "upload/executable_directory.h"
#include "upload/path_text.h"
#include "upload/report.h"

#include <QString>
#include <algorithm>
#include <chrono>
#include <curl/curl.h>
#include <exception>
#include <initializer_list>
#include <memory>
#include <string>
#include <system_error>
#include <utility>

#ifndef ZARVIK_UPLOAD_ENDPOINT
#error "ZARVIK_UPLOAD_ENDPOINT must name the score service's upload URL"
#endif

namespace {

// Fixed at build time so that nothing at run time can send the token elsewhere.
const char upload_endpoint[] = ZARVIK_UPLOAD_ENDPOINT;

using easy_handle = std::unique_ptr<CURL, decltype(&curl_easy_cleanup)>;
using header_list = std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)>;
using url_handle = std::unique_ptr<CURLU, decltype(&curl_url_cleanup)>;

// For one report: at most 3 redirects, and 15 s in all however many
// requests it takes, of which making a connection may take 5.
constexpr int max_redirects = 3;
constexpr std::chrono::milliseconds total_time_limit{15000};
constexpr std::chrono::milliseconds connect_time_limit{5000};

// A URL is read as libcurl reads the redirect targets it follows itself; a
// scheme libcurl does not know is read too, to be refused as another one.
constexpr unsigned int url_flags = CURLU_URLENCODE | CURLU_ALLOW_SPACE | CURLU_NON_SUPPORT_SCHEME;

size_t discard_body(char*, size_t size, size_t count, void*) {
    return size * count;
}

// libcurl's code for a URL it cannot take, as its own following would give it.
CURLcode url_failure(CURLUcode failure) {
    return failure == CURLUE_OUT_OF_MEMORY ? CURLE_OUT_OF_MEMORY : CURLE_URL_MALFORMAT;
}

// One part of a parsed URL into `text`; a part that the URL does not have
// reads as empty.
CURLUcode url_part(CURLU* url, CURLUPart part, unsigned int flags, std::string& text) {
    char* found = nullptr;
    const CURLUcode result = curl_url_get(url, part, &found, flags);
    text = result == CURLUE_OK ? found : "";
    curl_free(found);
    switch (result) {
    case CURLUE_NO_SCHEME:
    case CURLUE_NO_HOST:
    case CURLUE_NO_PORT:
        return CURLUE_OK;
    default:
        return result;
    }
}

// Whether `target` has the upload endpoint's scheme, host and port: scheme
// and host in any letter case, a port left out read as its scheme's default.
CURLUcode same_origin(CURLU* endpoint, CURLU* target, bool& same) {
    same = true;
    for (const auto& [part, flags] : {std::pair<CURLUPart, unsigned int>{CURLUPART_SCHEME, 0},
                                      {CURLUPART_HOST, 0},
                                      {CURLUPART_PORT, CURLU_DEFAULT_PORT}}) {
        std::string ours, theirs;
        CURLUcode result = url_part(endpoint, part, flags, ours);
        if (result == CURLUE_OK)
            result = url_part(target, part, flags, theirs);
        if (result != CURLUE_OK)
            return result;
        same = same && !theirs.empty() && curl_strequal(ours.c_str(), theirs.c_str());
    }
    return CURLUE_OK;
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

// Limits the next request to what is left of the report's whole time, and
// its connecting to the connect limit within that. A request cannot be given
// no time (0 would mean no limit), so with none left it times out here.
CURLcode limit_time(CURL* curl, std::chrono::steady_clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0)
        return CURLE_OPERATION_TIMEDOUT;
    return first_failure({
        curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, static_cast<long>(left.count())),
        curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS,
                         static_cast<long>(std::min(left, connect_time_limit).count())),
    });
}

// The reason a transfer failed, in words a player can act on.
const char* failure_reason(CURLcode result) {
    switch (result) {
    case CURLE_COULDNT_RESOLVE_HOST:
        return texts::send_failed_no_network;
    case CURLE_COULDNT_RESOLVE_PROXY:
        return texts::send_failed_no_proxy;
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
    // The endpoint is checked when the program is built, so the one URL that
    // can be malformed is a redirect's target.
    case CURLE_URL_MALFORMAT:
        return texts::send_failed_bad_redirect;
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

    const url_handle endpoint(curl_url(), &curl_url_cleanup);
    if (!endpoint) {
        show_send_failure(texts::send_failed_not_prepared, CURLE_OUT_OF_MEMORY);
        return;
    }
    const CURLUcode endpoint_read =
        curl_url_set(endpoint.get(), CURLUPART_URL, upload_endpoint, url_flags);
    if (endpoint_read != CURLUE_OK) {
        show_send_failure(texts::send_failed_not_prepared, url_failure(endpoint_read));
        return;
    }

    // Braced lists are evaluated in order, so the options are set as listed.
    // Every option is checked: one left unset (the protocol limits or the CA
    // file above all) would weaken the transfer instead of stopping it.
    const CURLcode setup = first_failure({
        // The very URL that was read, and later each checked redirect target:
        // libcurl connects where the checked URL says, not where a second
        // reading of its text might.
        curl_easy_setopt(curl.get(), CURLOPT_CURLU, endpoint.get()),
        // The token is in the body: no request may leave TLS, or a 307/308 to
        // http:// would repeat it in clear text. Redirects are followed here,
        // not by libcurl; the second limit holds should libcurl follow one.
        curl_easy_setopt(curl.get(), CURLOPT_PROTOCOLS_STR, "https"),
        curl_easy_setopt(curl.get(), CURLOPT_REDIR_PROTOCOLS_STR, "https"),
        curl_easy_setopt(curl.get(), CURLOPT_FOLLOWLOCATION, 0L),
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
        // Without this, libcurl waits out a name look-up that a time-out cut
        // short, past both limits: the system's resolver asks each name
        // server in turn and again, and name servers that never answer held
        // each replay for 20 to 30 s. With it the look-up's thread is left to
        // end on its own, and to free what it holds.
        curl_easy_setopt(curl.get(), CURLOPT_QUICK_EXIT, 1L),
        curl_easy_setopt(curl.get(), CURLOPT_WRITEFUNCTION, discard_body),
    });
    if (setup != CURLE_OK) {
        show_send_failure(texts::send_failed_not_prepared, setup);
        return;
    }

    // The token goes with every request, so no redirect is followed before
    // its target is checked. A check of the response's Location headers
    // would predict which one libcurl takes and how it reads it, and libcurl
    // versions differ there; so libcurl is asked instead where it would go
    // (its own pick, resolved against the URL asked), and that is checked.
    url_handle target(nullptr, &curl_url_cleanup); // in libcurl's use once set
    const auto deadline = std::chrono::steady_clock::now() + total_time_limit;
    long status = 0;
    for (int redirects = 0;; ++redirects) {
        // A failed transfer must not look like a successful one: whatever
        // the last response code says, the report did not arrive.
        CURLcode result = limit_time(curl.get(), deadline);
        if (result == CURLE_OK)
            result = curl_easy_perform(curl.get());
        if (result == CURLE_OK)
            result = curl_easy_getinfo(curl.get(), CURLINFO_RESPONSE_CODE, &status);
        char* next = nullptr;
        if (result == CURLE_OK && status >= 300 && status <= 399)
            result = curl_easy_getinfo(curl.get(), CURLINFO_REDIRECT_URL, &next);
        if (result != CURLE_OK) {
            show_send_failure(failure_reason(result), result);
            return;
        }
        // No redirect, or one without a usable Location: the status tells.
        if (!next)
            break;

        url_handle next_target(curl_url(), &curl_url_cleanup);
        CURLUcode read = next_target
                             ? curl_url_set(next_target.get(), CURLUPART_URL, next, url_flags)
                             : CURLUE_OUT_OF_MEMORY;
        bool same = false;
        if (read == CURLUE_OK)
            read = same_origin(endpoint.get(), next_target.get(), same);
        if (read != CURLUE_OK) {
            show_send_failure(failure_reason(url_failure(read)), url_failure(read));
            return;
        }
        // libcurl itself had no failure to report: the code says so, and the
        // sentence that Zarvik refused.
        if (!same) {
            show_send_failure(texts::send_failed_other_origin, CURLE_OK);
            return;
        }
        if (redirects == max_redirects) {
            show_send_failure(failure_reason(CURLE_TOO_MANY_REDIRECTS), CURLE_TOO_MANY_REDIRECTS);
            return;
        }
        // Every redirect repeats the request as it was, report and all (a
        // moved upload address takes the report as it is), except a 303: it
        // says the report was handled, and libcurl follows it with a GET
        // without a body.
        result = first_failure({
            curl_easy_setopt(curl.get(), CURLOPT_CURLU, next_target.get()),
            status == 303 ? curl_easy_setopt(curl.get(), CURLOPT_HTTPGET, 1L) : CURLE_OK,
        });
        if (result != CURLE_OK) {
            show_send_failure(failure_reason(result), result);
            return;
        }
        target = std::move(next_target);
    }
    // Only a 2xx delivers the report; a transfer that ends on a redirect
    // (one without a Location, say) has not. 409: the service already holds
    // this replay, which is what was wanted.
    if ((status < 200 || status > 299) && status != 409)
        show_error(QString::number(status));
}
