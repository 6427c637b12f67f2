#pragma once

#include <QString>

class QTranslator;

// Qt's own texts (file choosers, the folder picker, standard buttons and
// questions) in Chinese, as the rest of the interface is, whatever the locale.

// Where Qt's translations are installed on this system.
QString qtTranslationsDirectory();

// Loads qtbase_zh_CN from directory into translator and installs it in the
// running application; the caller keeps translator alive as long as it is
// installed. The words the choosers show that this Qt's translation lacks
// ("Folder", "File") are added. False, with a warning under pellwick.support,
// when the translation is missing: Qt's texts then stay in English.
bool installQtTranslation(QTranslator &translator, const QString &directory = qtTranslationsDirectory());
