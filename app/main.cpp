#include "app/main_window.h"
#include "app/token_file.h"
#include "ui/turkish.h"

#include <QApplication>
#include <QWidget>
#include <QtGlobal>
#include <curl/curl.h>
#include <string>

namespace {

int run_window(int argc, char* argv[]) {
    std::string token;
    if (entry_exists(token_file_name))
        token = get_saved_token();

#ifdef _WIN32
    // Installers of other programs set these for every program; a plugin
    // found through them that was built for another Qt stops this one
    // starting. Its own plugins are beside it (the built-in qt.conf).
    qunsetenv("QT_PLUGIN_PATH");
    qunsetenv("QT_QPA_PLATFORM_PLUGIN_PATH");
#endif
    QApplication app(argc, argv);
    load_turkish_texts(app);
    if (!game_files_present())
        return -1;

    QWidget window;
    build_main_window(window, token);
    window.show();
    return app.exec();
}

} // namespace

int main(int argc, char* argv[]) {
    // libcurl's global set-up, once and before any other thread exists (Qt
    // starts some), and its clean-up once at the end.
    curl_global_init(CURL_GLOBAL_DEFAULT);
    const int result = run_window(argc, argv);
    curl_global_cleanup();
    return result;
}
