#include "imaging/wimlib_reference.h"

#include "imaging/imaging_log.h"

#include <QFileInfo>

namespace {

QString property(WIMStruct *wim, uint32_t image, const char *name)
{
    const wimlib_tchar *value = wimlib_get_image_property(wim, int(image), name);
    return value ? QString::fromUtf8(value) : QString();
}

// CREATIONTIME as wimlib writes it: two "0x%08X" halves; 0 when unreadable.
uint64_t creationTime(WIMStruct *wim, uint32_t image)
{
    bool highOk = false;
    bool lowOk = false;
    const uint64_t high = property(wim, image, "CREATIONTIME/HIGHPART").toULongLong(&highOk, 0);
    const uint64_t low = property(wim, image, "CREATIONTIME/LOWPART").toULongLong(&lowOk, 0);
    return highOk && lowOk ? (high << 32) | (low & 0xFFFFFFFFu) : 0;
}

}  // namespace

namespace wimref {

QString sourceOf(const QString &path)
{
    const QString canonical = QFileInfo(path).canonicalFilePath();
    return canonical.isEmpty() ? path : canonical;
}

uint32_t newestFrom(WIMStruct *wim, uint32_t lastIndex, const QString &source)
{
    uint32_t newest = 0;
    uint64_t newestTime = 0;
    for (uint32_t i = 1; i <= lastIndex; ++i) {
        if (property(wim, i, kSourceProperty) != source)
            continue;
        const uint64_t time = creationTime(wim, i);
        if (newest == 0 || time >= newestTime) {
            newest = i;
            newestTime = time;
        }
    }
    return newest;
}

uint32_t referenceAndRecord(WIMStruct *wim, uint32_t newImage, const QString &source, bool useReference, int *code)
{
    *code = 0;
    uint32_t reference = useReference ? newestFrom(wim, newImage - 1, source) : 0;
    if (reference != 0) {
        if (const int failed = wimlib_reference_template_image(wim, int(newImage), wim, int(reference), 0)) {
            // Hashes copied before the failure belong to files found unchanged: still right.
            qCWarning(lcImaging).noquote()
                << QStringLiteral("image %1 cannot serve as the reference of a capture of "
                                  "%2, every file is read: %3 (wimlib error %4)")
                       .arg(reference)
                       .arg(source, QString::fromUtf8(wimlib_get_error_string(static_cast<wimlib_error_code>(failed))))
                       .arg(failed);
            reference = 0;
        }
    }
    *code = wimlib_set_image_property(wim, int(newImage), kSourceProperty, source.toUtf8().constData());
    return reference;
}

}  // namespace wimref
