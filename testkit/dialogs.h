#pragma once
// Drives the real modal dialogs that code under test opens: each one is
// recorded as the user would see it and then answered.

#include <QString>
#include <QStringList>
#include <functional>
#include <vector>

class QWidget;

struct SeenDialog {
    QString class_name; // "QMessageBox" or "QInputDialog"
    QString title;
    QString text;        // message text, or the input dialog's label
    int icon = -1;       // QMessageBox::Icon; -1 for other dialogs
    QStringList buttons; // button texts, in layout order
    bool has_parent = false;
    int echo_mode = -1;   // QLineEdit::EchoMode of an input dialog
    QString initial_text; // text an input dialog opened with
};

using DialogAnswer = std::function<void(QWidget* dialog)>;

// The program's texts are UTF-8, and so are the tests' own.
inline QString utf8(const char* text) {
    return QString::fromUtf8(text);
}

// Types `text` into an input dialog and confirms it.
DialogAnswer type_text(const QString& text);
// Cancels an input dialog.
DialogAnswer cancel_input();

// Runs `action` and answers the modal dialogs it opens, in order, with
// `answers`; once they are used up, message boxes get OK and input dialogs
// are cancelled. Returns every dialog seen.
std::vector<SeenDialog> run_answering(const std::function<void()>& action,
                                      std::vector<DialogAnswer> answers = {});

// Clicks the push button labelled `label` in `window`; fails the test when
// there is none.
void click_button(QWidget& window, const QString& label);

// The texts of the error boxes ("Hata", critical icon) among `seen`.
QStringList error_texts(const std::vector<SeenDialog>& seen);
