#include "app/main_window.h"

#include "app/scan.h"
#include "app/token_file.h"
#include "ui/message_box.h"
#include "ui/texts.h"

#include <QInputDialog>
#include <QPushButton>
#include <QVBoxLayout>
#include <QWidget>
#include <filesystem>
#include <system_error>

namespace {

// An existence test that cannot be carried out (permission denied, say)
// counts as no entry.
bool entry_exists(const char* path) {
    std::error_code error;
    return std::filesystem::exists(path, error) && !error;
}

} // namespace

void build_main_window(QWidget& window, std::string& token) {
    window.setWindowTitle(QString::fromUtf8(texts::window_title));
    window.setFixedSize(400, 100);

    auto* token_button = new QPushButton(QString::fromUtf8(texts::token_button));
    auto* send_button = new QPushButton(QString::fromUtf8(texts::send_button));
    auto* layout = new QVBoxLayout;
    layout->addWidget(token_button, 0);
    layout->addWidget(send_button, 0);
    window.setLayout(layout);

    QObject::connect(token_button, &QPushButton::clicked, [&token] { ask_for_token(token); });
    QObject::connect(send_button, &QPushButton::clicked, [&token] { send_replays(token); });
}

void ask_for_token(std::string& token) {
    bool confirmed = false;
    const QString text = QInputDialog::getText(nullptr, QString::fromUtf8(texts::window_title),
                                               QString::fromUtf8(texts::token_prompt),
                                               QLineEdit::Normal, QString(), &confirmed);
    if (!confirmed)
        return;
    if (text.isEmpty()) {
        show_error(QString::fromUtf8(texts::token_required));
        return;
    }
    token = text.toUtf8().toStdString();
    // The token holds for this run even when it could not be kept for the next.
    if (save_token(token))
        show_information(QString::fromUtf8(texts::saved_title),
                         QString::fromUtf8(texts::token_saved));
    else
        show_error(QString::fromUtf8(texts::token_not_saved));
    run_tracker(token);
}

void send_replays(const std::string& token) {
    if (token.empty()) {
        show_error(QString::fromUtf8(texts::no_saved_token));
        return;
    }
    run_tracker(token);
}

bool game_files_present() {
    if (!entry_exists("../replay")) {
        show_error(QString::fromUtf8(texts::no_replay_folder));
        return false;
    }
    if (!entry_exists("../th10.exe")) {
        show_error(QString::fromUtf8(texts::no_game_executable));
        return false;
    }
    return true;
}
