#include "app/main_window.h"
#include "app/token_file.h"
#include "ui/turkish.h"

#include <QApplication>
#include <QWidget>
#include <string>

int main(int argc, char* argv[]) {
    std::string token;
    if (entry_exists(token_file_name))
        token = get_saved_token();

    QApplication app(argc, argv);
    load_turkish_texts(app);
    if (!game_files_present())
        return -1;

    QWidget window;
    build_main_window(window, token);
    window.show();
    return app.exec();
}
