#include "support/qt_translation.h"

#include "support/support_log.h"

#include <QCoreApplication>
#include <QDir>
#include <QLibraryInfo>
#include <QTranslator>

namespace {
const QString kQtBaseChinese = QStringLiteral("qtbase_zh_CN");

// What Qt's translation of this Qt version leaves in English although the
// file choosers show it: the type column's words ("Folder", "File", ...),
// whose context Qt 6 renamed.
class MissingQtTexts : public QTranslator
{
public:
    bool isEmpty() const override { return false; }
    QString translate(const char *context, const char *sourceText, const char *, int) const override
    {
        if (qstrcmp(context, "QAbstractFileIconProvider") != 0)
            return {};
        static const struct {
            const char *source;
            const char16_t *chinese;
        } kTexts[] = {
            {"Folder", u"文件夹"}, {"File Folder", u"文件夹"}, {"File", u"文件"},  {"%1 File", u"%1 文件"},
            {"Drive", u"驱动器"},  {"Shortcut", u"快捷方式"},  {"Alias", u"替身"}, {"Unknown", u"未知"},
        };
        for (const auto &t : kTexts) {
            if (qstrcmp(sourceText, t.source) == 0)
                return QString::fromUtf16(t.chinese);
        }
        return {};
    }
};

}  // namespace

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
    if (QCoreApplication::translate("QAbstractFileIconProvider", "Folder") == QLatin1String("Folder")) {
        static MissingQtTexts missing;
        QCoreApplication::installTranslator(&missing);
    }
    return true;
}
