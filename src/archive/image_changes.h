#pragma once

#include "imaging/imaging_library.h"
#include "imaging/wim_dir_entry.h"

#include <QList>
#include <QMetaType>
#include <QString>
#include <QStringList>
#include <functional>

// A change of an image's files that the browse dialog asks the window for.
struct ImageChange {
    enum class Kind {
        Add,        // `paths`: files and folders on disk, put into `folder`
        Delete,     // `paths`: entries of the image
        Rename,     // `paths`: one entry of the image; `name`: its new name
        NewFolder,  // a folder called `name` made in `folder`
    };
    // Where an add's files come from: given (dropped), or a chooser yet to ask.
    enum class Source { Given, ChooseFile, ChooseFolder };
    Kind kind = Kind::Add;
    Source source = Source::Given;
    QStringList paths;
    QString folder;
    QString name;
};
Q_DECLARE_METATYPE(ImageChange)

// Why `name` cannot be the name of an entry (as the message says it), or ""
// when it can: empty, "." or "..", a "/" or a NUL in it.
QString EntryNameProblem(const QString &name);

// The updates that add `sources` (files and folders on disk) into the folder
// `folder` of an image whose entries there are `existing`. For a source whose
// name is taken (in any letter case: Windows, which uses the image, would
// see one entry), `replace` is asked with the entry in the way: true deletes
// that entry first, false leaves the source out.
QList<ImagingUpdate> AddUpdates(const QStringList &sources, const QString &folder, const QList<WimDirEntry> &existing,
                                const std::function<bool(const WimDirEntry &taken)> &replace);

// A name for a new folder among `existing`: "新建文件夹", else "新建文件夹 (2)", ...
QString NewFolderName(const QList<WimDirEntry> &existing);

// The entry of `existing` called `name` in any letter case, or nullptr.
const WimDirEntry *EntryNamed(const QList<WimDirEntry> &existing, const QString &name);
