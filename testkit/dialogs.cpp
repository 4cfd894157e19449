#include "testkit/dialogs.h"

#include <QAbstractButton>
#include <QApplication>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <deque>
#include <gtest/gtest.h>

namespace {

SeenDialog describe(QWidget* dialog) {
    SeenDialog seen;
    seen.class_name = QString::fromLatin1(dialog->metaObject()->className());
    seen.title = dialog->windowTitle();
    seen.has_parent = dialog->parentWidget() != nullptr;
    if (auto* box = qobject_cast<QMessageBox*>(dialog)) {
        seen.text = box->text();
        seen.icon = box->icon();
        for (QAbstractButton* button : box->buttons())
            seen.buttons << button->text();
    } else if (auto* input = qobject_cast<QInputDialog*>(dialog)) {
        seen.text = input->labelText();
        seen.echo_mode = input->textEchoMode();
        seen.initial_text = input->textValue();
        seen.buttons << input->okButtonText() << input->cancelButtonText();
    }
    return seen;
}

void answer_by_default(QWidget* dialog) {
    if (auto* box = qobject_cast<QMessageBox*>(dialog)) {
        if (QAbstractButton* ok = box->button(QMessageBox::Ok))
            ok->click();
        else
            box->accept();
    } else if (auto* input = qobject_cast<QInputDialog*>(dialog)) {
        input->reject();
    } else {
        dialog->close();
    }
}

} // namespace

DialogAnswer type_text(const QString& text) {
    return [text](QWidget* dialog) {
        auto* input = qobject_cast<QInputDialog*>(dialog);
        if (!input) {
            answer_by_default(dialog);
            return;
        }
        input->setTextValue(text);
        input->accept();
    };
}

DialogAnswer cancel_input() {
    return [](QWidget* dialog) { answer_by_default(dialog); };
}

std::vector<SeenDialog> run_answering(const std::function<void()>& action,
                                      std::vector<DialogAnswer> answers) {
    std::vector<SeenDialog> seen;
    std::deque<DialogAnswer> pending(answers.begin(), answers.end());
    QPointer<QWidget> last_answered;

    // Polls from inside the dialogs' own nested event loops.
    QTimer poll;
    poll.setInterval(5);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        QWidget* dialog = QApplication::activeModalWidget();
        if (!dialog || dialog == last_answered || !dialog->isVisible())
            return;
        last_answered = dialog;
        seen.push_back(describe(dialog));
        DialogAnswer answer = answer_by_default;
        if (!pending.empty()) {
            answer = pending.front();
            pending.pop_front();
        }
        answer(dialog);
    });
    poll.start();
    action();
    poll.stop();
    return seen;
}

QStringList error_texts(const std::vector<SeenDialog>& seen) {
    QStringList texts;
    for (const SeenDialog& dialog : seen)
        if (dialog.title == QString::fromUtf8("Hata") && dialog.icon == QMessageBox::Critical)
            texts << dialog.text;
    return texts;
}

void click_button(QWidget& window, const QString& label) {
    for (QPushButton* button : window.findChildren<QPushButton*>()) {
        if (button->text() == label) {
            button->click();
            return;
        }
    }
    ADD_FAILURE() << "no button labelled " << label.toStdString();
}
