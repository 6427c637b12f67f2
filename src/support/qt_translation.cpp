#include "support/qt_translation.h"

#include "support/support_log.h"

#include <QCoreApplication>
#include <QDir>
#include <QLibraryInfo>
#include <QTranslator>

namespace {
const QString kQtBaseChinese = QStringLiteral("qtbase_zh_CN");
}

QString qtTranslationsDirectory()
{
    return QLibraryInfo::path(QLibraryInfo::TranslationsPath);
}

bool installQtTranslation(QTranslator &translator, const QString &directory)
{
    if (!translator.load(kQtBaseChinese, directory)) {
        qCWarning(lcSupport).noquote() << "Qt's Chinese translation" << kQtBaseChinese << "is not in"
                                       << QDir::toNativeSeparators(directory)
                                       << "(Debian: qt6-translations-l10n); Qt's dialogs stay in English";
        return false;
    }
    if (!QCoreApplication::installTranslator(&translator)) {
        qCWarning(lcSupport) << "Qt's Chinese translation could not be installed";
        return false;
    }
    return true;
}
