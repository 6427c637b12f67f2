#include "archive/image_texts.h"

#include "imaging/imaging_library.h"
#include "imaging/wim_handle.h"

namespace {

const QString kEmptyImage = QStringLiteral("<IMAGE></IMAGE>");

// The metadata text of a loaded image, to its NUL; false when the call failed.
bool readMetadata(ImagingLibrary &lib, HWIM image, QString *xml)
{
    if (!lib.WIMGetImageInformation(image, xml, nullptr))
        return false;
    const qsizetype nul = xml->indexOf(QChar(0));
    if (nul >= 0)
        xml->truncate(nul);
    return true;
}

}  // namespace

QString BootColumnText(bool boot)
{
    return boot ? QStringLiteral("是") : QStringLiteral("否");
}

bool WriteImageTexts(QString &xml, const ImageInfo &texts, const ImageInfo &old)
{
    for (const ImageText &t : kImageTexts) {
        const QString &value = texts.*(t.field);
        if (value != old.*(t.field) && !SetMetadataTag(xml, value, t.tag))
            return false;
    }
    return true;
}

QString NewImageTexts(const ImageInfo &texts)
{
    QString element = kEmptyImage;
    // Nothing unclosed in an element of our own making: it cannot fail.
    return WriteImageTexts(element, texts) ? element : kEmptyImage;
}

void CopyImageTexts(const ImageInfo &from, ImageInfo &to)
{
    for (const ImageText &t : kImageTexts)
        to.*(t.field) = from.*(t.field);
}

ImageRead ReadImageRecord(ImagingLibrary &lib, HWIM image, ImageInfo *record)
{
    QString xml;
    if (!readMetadata(lib, image, &xml))
        return ImageRead::NotRead;
    ImageTable read;
    const bool whole = ReadImageInfo(xml, read);
    *record = read.records[0];
    return whole ? ImageRead::Read : ImageRead::Malformed;
}

ImageTextsChange ChangeImageTexts(ImagingLibrary &lib, HWIM wim, uint32_t index, const ImageInfo &current,
                                  const ImageInfo &wanted)
{
    ImageTextsChange change;
    const WimHandle image(lib, lib.WIMLoadImage(wim, index));
    QString xml;
    if (!image || !readMetadata(lib, image.get(), &xml)) {
        change.why = lib.LastError();
        return change;
    }
    if (!WriteImageTexts(xml, wanted, current)) {
        change.result = ImageTextsChange::Malformed;
        return change;
    }
    change.held = current;
    if (lib.WIMSetImageInformation(image.get(), xml, uint32_t(xml.size() * 2))) {
        change.result = ImageTextsChange::Stored;
        CopyImageTexts(wanted, change.held);
        return change;
    }
    change.result = ImageTextsChange::Refused;
    change.why = lib.LastError();  // before the read-back, which is a call of its own
    ImageInfo stored;
    if (change.why.kind != ImagingError::Kind::ChangedOnDisk
        && ReadImageRecord(lib, image.get(), &stored) == ImageRead::Read)
        CopyImageTexts(stored, change.held);
    return change;
}
