#include "app/main_window.h"
#include "app/token_file.h"
#include "ui/texts.h"
#include "ui/turkish.h"

#include <QApplication>
#include <QString>
#include <QWidget>
#include <QtGlobal>
#include <curl/curl.h>
#include <iostream>
#include <string>

#ifdef _WIN32
#include <openssl/crypto.h>
#include <windows.h>
#else
#include <sys/stat.h>
#endif

namespace {

#ifdef _WIN32
// A protection that failed at start is not carried on without. The box is
// Windows' own: Qt's would first load its plugins, which the failed
// protection may be what guards.
int refuse_to_start(const char* text) {
    const QString title = QString::fromUtf8(texts::error_title);
    const QString message = QString::fromUtf8(text);
    MessageBoxW(nullptr, reinterpret_cast<const wchar_t*>(message.utf16()),
                reinterpret_cast<const wchar_t*>(title.utf16()), MB_OK | MB_ICONERROR);
    return -1;
}
#endif

int run_window(int argc, char* argv[]) {
    // A token file that is missing or cannot be read gives no token.
    std::string token = get_saved_token();

#ifdef _WIN32
    // Installers of other programs set these for every program; a plugin
    // found through them that was built for another Qt stops this one
    // starting. Its own plugins are beside it (the built-in qt.conf).
    qunsetenv("QT_PLUGIN_PATH");
    qunsetenv("QT_QPA_PLATFORM_PLUGIN_PATH");
#endif
    QApplication app(argc, argv);
    if (!load_turkish_texts(app))
        std::cerr << "Error: Could not load Qt's Turkish texts; its buttons stay in English\n";
    if (!game_files_present())
        return -1;

    QWidget window;
    build_main_window(window, token);
    window.show();
    return app.exec();
}

} // namespace

int main(int argc, char* argv[]) {
#ifdef _WIN32
    // Libraries loaded by name from here on (by Qt, OpenSSL or the C
    // runtime) come from beside the program or from System32, never from the
    // working folder or a folder on PATH, where anyone may have put one.
    if (!SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_APPLICATION_DIR |
                                  LOAD_LIBRARY_SEARCH_SYSTEM32))
        return refuse_to_start(texts::dll_folders_not_limited);
    // The OpenSSL beside the program reads no configuration file: one named
    // by OPENSSL_CONF, or found in its compiled-in folder, could change the
    // TLS policy or load a provider DLL. OpenSSL settles its configuration
    // once, so this, before anything else uses OpenSSL, wins over libcurl's
    // later request to load it.
    if (OPENSSL_init_crypto(OPENSSL_INIT_NO_LOAD_CONFIG, nullptr) != 1)
        return refuse_to_start(texts::openssl_config_not_ignored);
#else
    // Files the program makes are its owner's alone from the moment they
    // exist: token.txt's temporary file would otherwise be readable by other
    // accounts until its mode is narrowed, and a file opened in that moment
    // stays readable through the open file.
    umask(077);
#endif
    // libcurl would write the TLS session secrets to the file this names,
    // enough to read every token sent; it looks at it in its global set-up.
    qunsetenv("SSLKEYLOGFILE");
    // libcurl's global set-up, once and before any other thread exists (Qt
    // starts some), and its clean-up once at the end. Without it each send
    // tries again and, failing, says so in its box.
    const CURLcode curl_ready = curl_global_init(CURL_GLOBAL_DEFAULT);
    if (curl_ready != CURLE_OK)
        std::cerr << "Error: Could not set up libcurl (curl " << static_cast<int>(curl_ready)
                  << ")\n";
    const int result = run_window(argc, argv);
    if (curl_ready == CURLE_OK)
        curl_global_cleanup();
    return result;
}
