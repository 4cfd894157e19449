#include "app/main_window.h"

#include "app/scan.h"
#include "app/token_file.h"
#include "ui/message_box.h"

#include <QInputDialog>
#include <QPushButton>
#include <QVBoxLayout>
#include <QWidget>

void build_main_window(QWidget& window, std::string& token) {
    window.setWindowTitle(QString::fromUtf8("Zarvik"));
    window.setFixedSize(400, 100);

    auto* token_button = new QPushButton(QString::fromUtf8("Token Girin"));
    auto* send_button = new QPushButton(QString::fromUtf8("Replay Gönderin"));
    auto* layout = new QVBoxLayout;
    layout->addWidget(token_button, 0);
    layout->addWidget(send_button, 0);
    window.setLayout(layout);

    QObject::connect(token_button, &QPushButton::clicked, [&token] { ask_for_token(token); });
    QObject::connect(send_button, &QPushButton::clicked, [&token] { send_replays(token); });
}

void ask_for_token(std::string& token) {
    bool confirmed = false;
    const QString text = QInputDialog::getText(nullptr, QString::fromUtf8("Zarvik"),
                                               QString::fromUtf8("Token Girin: "),
                                               QLineEdit::Normal, QString(), &confirmed);
    if (!confirmed)
        return;
    if (text.isEmpty()) {
        show_error(QString::fromUtf8("Pim Token Talep Ediyor!"));
        return;
    }
    token = text.toUtf8().toStdString();
    // The token holds for this run even when it could not be kept for the next.
    if (save_token(token))
        show_information(QString::fromUtf8("Kaydedildi"),
                         QString::fromUtf8("Pim Tokeninizi Başarıyla Kaydetti!"));
    else
        show_error(QString::fromUtf8("Pim Tokeninizi Kaydedemedi!"));
    run_tracker(token);
}

void send_replays(const std::string& token) {
    if (token.empty()) {
        show_error(QString::fromUtf8("Pim Kayıtlı Token Bulamadı!"));
        return;
    }
    run_tracker(token);
}

bool game_files_present() {
    if (!entry_exists("../replay")) {
        show_error(QString::fromUtf8("Pim replay klasörünü bulamıyor!!!"));
        return false;
    }
    if (!entry_exists("../th10.exe")) {
        show_error(QString::fromUtf8("Pim th10.exe'yı bulayımıyor!!!"));
        return false;
    }
    return true;
}
