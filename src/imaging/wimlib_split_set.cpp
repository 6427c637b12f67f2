#include "imaging/wimlib_split_set.h"

#include "imaging/split_parts.h"
#include "imaging/wimlib_archive.h"

#include <QFile>
#include <QFileInfo>
#include <QList>

#include <cerrno>
#include <cstring>
#include <vector>

#include <sys/stat.h>

namespace wimsplit {

QString partPath(const QString &firstPart, unsigned number)
{
    return splitparts::partPath(firstPart, number);
}

Problem attachParts(WIMStruct *wim, const QString &path, int openFlags)
{
    wimlib_wim_info info{};
    wimlib_get_wim_info(wim, &info);
    if (info.total_parts <= 1)
        return {};
    const QString name = QFileInfo(path).fileName();
    if (info.part_number != 1) {
        return {WIMLIB_ERR_SPLIT_INVALID, 0,
                QStringLiteral("%1 is part %2 of %3 of a split set: open its first part")
                    .arg(name)
                    .arg(info.part_number)
                    .arg(info.total_parts)};
    }

    std::vector<QByteArray> natives;
    for (unsigned number = 2; number <= info.total_parts; ++number) {
        const QString part = partPath(path, number);
        const QString partName = QFileInfo(part).fileName();
        const QString which =
            QStringLiteral("part %1 of %2 of the split set, %3,").arg(number).arg(info.total_parts).arg(partName);
        QByteArray native = QFile::encodeName(part);
        struct stat st;
        if (::stat(native.constData(), &st) != 0) {
            const int error = errno;
            return {
                WIMLIB_ERR_OPEN, error,
                error == ENOENT
                    ? QStringLiteral("%1 is missing beside %2").arg(which, name)
                    : QStringLiteral("%1 cannot be read: %2").arg(which, QString::fromLocal8Bit(std::strerror(error)))};
        }
        if (!S_ISREG(st.st_mode))
            return {WIMLIB_ERR_NOT_A_REGULAR_FILE, 0, QStringLiteral("%1 is not a regular file").arg(which)};
        // wimlib would take a part of another set and fail only when it
        // misses data: check each part's header first.
        WIMStruct *opened = nullptr;
        if (const int code = wimlib_open_wim(native.constData(), 0, &opened)) {
            return {code, code == WIMLIB_ERR_OPEN || code == WIMLIB_ERR_READ ? errno : 0,
                    wimlibErrorText(QStringLiteral("%1 cannot be read").arg(which), code)};
        }
        wimlib_wim_info partInfo{};
        wimlib_get_wim_info(opened, &partInfo);
        wimlib_free(opened);
        if (std::memcmp(partInfo.guid, info.guid, WIMLIB_GUID_LEN) != 0 || partInfo.part_number != number
            || partInfo.total_parts != info.total_parts) {
            return {WIMLIB_ERR_SPLIT_INVALID, 0, QStringLiteral("%1 belongs to another split set").arg(which)};
        }
        natives.push_back(std::move(native));
    }
    std::vector<const char *> names;
    for (const QByteArray &native : natives)
        names.push_back(native.constData());
    if (const int code = wimlib_reference_resource_files(wim, names.data(), unsigned(names.size()), 0, openFlags))
        return {code, 0, wimlibErrorText(QStringLiteral("cannot read the parts of the split set %1").arg(name), code)};
    return {};
}

Problem diagnose(const QString &path)
{
    // Opening a pipe or a device could block.
    const QByteArray native = QFile::encodeName(path);
    struct stat st;
    if (::stat(native.constData(), &st) != 0 || !S_ISREG(st.st_mode))
        return {};
    WIMStruct *wim = nullptr;
    if (wimlib_open_wim(native.constData(), 0, &wim) != 0)
        return {};
    WimlibPtr owned(wim);
    return attachParts(wim, path, 0);
}

}  // namespace wimsplit
