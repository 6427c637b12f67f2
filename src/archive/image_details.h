#pragma once

#include <QDateTime>
#include <QString>
#include <QTimeZone>
#include <QtGlobal>

// What an image's metadata says of it as a whole, for the browse dialog.
struct ImageDetails {
    qint64 files = -1;    // FILECOUNT; -1 when the metadata has none
    qint64 folders = -1;  // DIRCOUNT
    qint64 bytes = -1;    // TOTALBYTES
    QDateTime created;    // CREATIONTIME, UTC; invalid when absent
    QDateTime modified;   // LASTMODIFICATIONTIME
};

// Reads the details from an image's metadata text (its <IMAGE> element).
// What is missing or malformed stays unknown.
ImageDetails ReadImageDetails(const QString &xml);

// One line for the dialog: "共 3 个文件夹、12 个文件，总大小 1.20MB，创建于
// 2026/12/09 05:30，修改于 …", leaving out what is unknown; "" when nothing is known.
QString ImageDetailsText(const ImageDetails &details, const QTimeZone &zone);
