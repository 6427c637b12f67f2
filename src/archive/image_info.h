#pragma once

#include <QString>
#include <QtGlobal>

// One image's metadata as the list shows it.
struct ImageInfo {
    QString displayName;
    QString displayDescription;
    QString name;
    QString description;
    QString flags;              // the edition; shown as the system identifier
    quint64 expandedBytes = 0;  // TOTALBYTES - HARDLINKBYTES
};
