#include "ui/turkish.h"

#include <QCoreApplication>
#include <QTranslator>

bool load_turkish_texts(QCoreApplication& app) {
    // Owned by the application, as it must outlive every text it translates.
    auto* translator = new QTranslator(&app);
    if (!translator->load(QStringLiteral(":/translations/qtbase_tr.qm"))) {
        delete translator;
        return false;
    }
    return QCoreApplication::installTranslator(translator);
}
