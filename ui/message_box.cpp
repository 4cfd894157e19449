#include "ui/message_box.h"

#include "ui/texts.h"

#include <QMessageBox>
#include <QString>

void show_error(const QString& text) {
    QMessageBox::critical(nullptr, QString::fromUtf8(texts::error_title), text);
}

void show_information(const QString& title, const QString& text) {
    QMessageBox::information(nullptr, title, text);
}
