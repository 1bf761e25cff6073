#include "shell/window/qt_italian.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

#include "shell/window/qt_text.h"

namespace vs {

std::string installQtItalian(QObject* owner) {
    const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    auto* translator = new QTranslator(owner);
    if (translator->load(QStringLiteral("qtbase_it"), folder) &&
        QCoreApplication::installTranslator(translator))
        return {};
    delete translator;
    return "Testi italiani di Qt non trovati (qtbase_it.qm in " + fromQt(folder) +
           "): i pulsanti delle finestre di dialogo restano in inglese; il pacchetto "
           "qt6-translations-l10n li installa";
}

}  // namespace vs
