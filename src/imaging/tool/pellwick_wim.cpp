// pellwick-wim: a developer's command-line driver of the imaging boundary.
// Every command goes through imaging() only, with a message callback that
// does per path what the program does (an exclusion-list test), so that
// timings compare with the program's.

#include "imaging/image_update_script.h"
#include "imaging/imaging_library.h"
#include "imaging/mount_records.h"
#include "imaging/wim_handle.h"
#include "imaging/wimlib_xml.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include <sys/stat.h>

namespace {

// The program's eight default exclusions, relative to a drive root.
const QStringView kExclusions[] = {
    u"\\hiberfil.sys",
    u"\\pagefile.sys",
    u"\\swapfile.sys",
    u"\\$recycle.bin\\",
    u"\\system volume information\\",
    u"\\windows\\logs\\",
    u"\\windows\\csc\\",
    u"\\windows\\temp\\",
};

bool matches(QStringView path, QStringView entry)
{
    const bool folder = entry.endsWith(u'\\');
    if (folder ? path.size() < entry.size() : path.size() != entry.size())
        return false;
    for (qsizetype i = 0; i < entry.size(); ++i) {
        char16_t c = path[i].unicode();
        if (c == u'/')
            c = u'\\';
        if (c >= u'A' && c <= u'Z')
            c |= 0x20;
        if (c != entry[i].unicode())
            return false;
    }
    return true;
}

qsizetype g_rootLength = 0;  // the capture folder's length: paths below it count from there
bool g_exclude = true;       // an update adds everything it names, as wimlib-imagex update does
bool g_verbose = false;

uint32_t onMessage(uint32_t message, uintptr_t wParam, intptr_t lParam, void *)
{
    const auto *path = reinterpret_cast<const char16_t *>(wParam);
    switch (message) {
    case WIM_MSG_PROCESS: {
        if (!g_exclude)
            return WIM_MSG_SUCCESS;
        const QStringView full(path);
        const QStringView relative = full.mid(qMin(g_rootLength, full.size()));
        for (const QStringView entry : kExclusions) {
            if (matches(relative, entry)) {
                *reinterpret_cast<int32_t *>(lParam) = 0;
                break;
            }
        }
        return WIM_MSG_SUCCESS;
    }
    case WIM_MSG_PROGRESS:
        if (g_verbose)
            std::fprintf(stderr, "\r%3d%%%s", int(wParam), wParam == 100 ? "\n" : "");
        return WIM_MSG_SUCCESS;
    case WIM_MSG_ERROR:
    case WIM_MSG_RETRY:
    case WIM_MSG_INFO:
    case WIM_MSG_WARNING: {
        const char *kind = message == WIM_MSG_ERROR   ? "error"
                           : message == WIM_MSG_RETRY ? "retry"
                           : message == WIM_MSG_INFO  ? "info"
                                                      : "warning";
        std::fprintf(stderr, "%s: %s [err = %d]\n", kind, qUtf8Printable(QString::fromUtf16(path)), int(lParam));
        return WIM_MSG_SUCCESS;
    }
    default: return WIM_MSG_SUCCESS;
    }
}

// A block device is read or written as an NTFS volume, with everything Windows keeps.
uint32_t volumeFlag(const QString &path)
{
    struct stat st;
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 && S_ISBLK(st.st_mode) ? WIM_FLAG_NTFS_VOLUME : 0;
}

// Exit status 4: the archive is in use by another program, or was changed
// by one since it was read; nothing was done, and trying again may succeed.
int failWith(const QString &what)
{
    const ImagingError why = imaging().LastError();
    std::fprintf(stderr, "pellwick-wim: %s: %s\n", qUtf8Printable(what), qUtf8Printable(why.text));
    const bool retry = why.kind == ImagingError::Kind::InUseElsewhere || why.kind == ImagingError::Kind::ChangedOnDisk
                       || why.kind == ImagingError::Kind::Busy;
    return retry ? 4 : 1;
}

int usage()
{
    std::fprintf(stderr,
                 "usage: pellwick-wim [-v] info WIM\n"
                 "       pellwick-wim [-v] capture [--full-read] DIR|DEVICE WIM [NAME]\n"
                 "       pellwick-wim [-v] apply WIM INDEX DIR|DEVICE\n"
                 "       pellwick-wim [-v] export WIM INDEX DEST [--compress=none|xpress|lzx|lzms] [--solid]\n"
                 "       pellwick-wim [-v] delete WIM INDEX\n"
                 "       pellwick-wim [-v] setboot WIM INDEX\n"
                 "       pellwick-wim [-v] setinfo WIM INDEX NAME [DESCRIPTION]\n"
                 "       pellwick-wim [-v] dir WIM INDEX [PATH]\n"
                 "       pellwick-wim [-v] extract WIM INDEX DEST PATH...\n"
                 "       pellwick-wim [-v] split WIM FIRST_PART PART_MB\n"
                 "       pellwick-wim [-v] verify WIM\n"
                 "       pellwick-wim [-v] optimize WIM\n"
                 "       pellwick-wim [-v] update WIM INDEX < COMMANDS\n"
                 "       pellwick-wim mount WIM INDEX DIR [--rw] [--staging DIR]\n"
                 "       pellwick-wim [-v] unmount DIR [--commit|--discard]\n"
                 "capture reads only the files changed since the newest image of WIM captured from the\n"
                 "same DIR|DEVICE (same path, sizes and times: unchanged); --full-read reads every file.\n"
                 "A DEVICE (block device) is read or written as an NTFS volume in NTFS-3G mode;\n"
                 "it must not be mounted (a capture also takes one mounted read-only).\n"
                 "WIM may be the first part of a split set (NAME.swm) for info, apply, export and verify.\n"
                 "export: a new DEST takes the compression given, else LZMS with --solid, else the source's;\n"
                 "an existing DEST keeps its own. --solid writes an ESD. PART_MB counts MiB.\n"
                 "verify exits 0 when the archive is whole, 3 when it is damaged (each damaged file listed).\n"
                 "update reads one command a line: add SOURCE IMAGE_PATH, delete IMAGE_PATH (a folder with\n"
                 "everything in it), rename OLD_PATH NEW_PATH; all of them are made in one commit, or none.\n"
                 "mount returns once the image is mounted at the empty folder DIR; a process of its own serves\n"
                 "it until unmount (--rw: changes kept in a folder inside the staging DIR until then, and no\n"
                 "other change reaches WIM). unmount --commit writes them into WIM; --discard (the default)\n"
                 "drops them.\n"
                 "Exit status 4: the archive is in use by another program or was changed by one meanwhile,\n"
                 "or files in the mount are still open; nothing was done, try again later.\n");
    return 2;
}

// Registered for one long call, as the program does.
struct Callback {
    bool ok;
    Callback() : ok(imaging().WIMRegisterMessageCallback(nullptr, onMessage, nullptr) != INVALID_CALLBACK_VALUE) {}
    ~Callback()
    {
        if (ok)
            imaging().WIMUnregisterMessageCallback(nullptr, onMessage);
    }
};

HWIM openArchive(const QString &path, uint32_t access)
{
    return imaging().WIMCreateFile(path, access, WIM_OPEN_EXISTING, WIM_FLAG_SHARE_WRITE, WIM_COMPRESS_LZX, nullptr);
}

bool parseIndex(const QString &text, uint32_t *index)
{
    bool ok = false;
    *index = text.toUInt(&ok);
    return ok && *index > 0;
}

QString escaped(const QString &text)
{
    return text.toHtmlEscaped();
}

int info(const QString &wimPath)
{
    WimHandle wim(imaging(), openArchive(wimPath, WIM_GENERIC_READ));
    if (!wim.get())
        return failWith(QStringLiteral("cannot open %1").arg(wimPath));
    WIM_INFO attributes;
    if (!imaging().WIMGetAttributes(wim.get(), &attributes, sizeof attributes))
        return failWith(QStringLiteral("cannot read the attributes of %1").arg(wimPath));
    std::printf("images %u\ncompression %u\nboot %u\n", attributes.ImageCount, attributes.CompressionType,
                attributes.BootIndex);
    if (attributes.TotalParts > 1)
        std::printf("part %u of %u\n", attributes.PartNumber, attributes.TotalParts);
    for (uint32_t i = 1; i <= attributes.ImageCount; ++i) {
        WimHandle image(imaging(), imaging().WIMLoadImage(wim.get(), i));
        QString xml;
        if (!image.get() || !imaging().WIMGetImageInformation(image.get(), &xml, nullptr))
            return failWith(QStringLiteral("cannot read image %1").arg(i));
        const auto texts = wimxml::editableTexts(xml);
        std::printf("image %u %s\n", i, texts ? qUtf8Printable(texts->name) : "");
    }
    return 0;
}

// Gives an image a new name (and description, when given), keeping its other texts.
int setTexts(HWIM image, const QString &name, const QString *description)
{
    QString xml;
    if (!imaging().WIMGetImageInformation(image, &xml, nullptr))
        return failWith(QStringLiteral("cannot read the image's texts"));
    auto texts = wimxml::editableTexts(xml).value_or(wimxml::EditableTexts{});
    texts.name = name;
    if (description)
        texts.description = *description;
    const QString element = QStringLiteral("<IMAGE><NAME>%1</NAME><DESCRIPTION>%2</DESCRIPTION><FLAGS>%3</FLAGS>"
                                           "<DISPLAYNAME>%4</DISPLAYNAME><DISPLAYDESCRIPTION>%5</DISPLAYDESCRIPTION>"
                                           "</IMAGE>")
                                .arg(escaped(texts.name), escaped(texts.description), escaped(texts.flags),
                                     escaped(texts.displayName), escaped(texts.displayDescription));
    if (!imaging().WIMSetImageInformation(image, element, uint32_t(element.size() * 2)))
        return failWith(QStringLiteral("cannot name the image \"%1\"").arg(name));
    return 0;
}

int capture(const QString &dir, const QString &wimPath, const QString &name, bool fullRead)
{
    WimHandle wim(imaging(), imaging().WIMCreateFile(wimPath, WIM_GENERIC_READ_WRITE, WIM_OPEN_ALWAYS, 0,
                                                     WIM_COMPRESS_LZX, nullptr));
    if (!wim.get())
        return failWith(QStringLiteral("cannot open or create %1").arg(wimPath));
    Callback callback;
    if (!callback.ok)
        return failWith(QStringLiteral("cannot register the message callback"));
    g_rootLength = dir.size();
    // The name goes into the capture's own commit.
    const QString element = name.isEmpty() ? QStringLiteral("<IMAGE></IMAGE>")
                                           : QStringLiteral("<IMAGE><NAME>%1</NAME></IMAGE>").arg(escaped(name));
    const uint32_t flags = volumeFlag(dir) | (fullRead ? WIM_FLAG_FULL_READ : 0);
    WimHandle image(imaging(), imaging().WIMCaptureImageWithInformation(wim.get(), dir, flags, element,
                                                                        uint32_t(element.size() * 2)));
    if (!image.get())
        return failWith(QStringLiteral("cannot capture %1").arg(dir));
    return 0;
}

int setInfo(const QString &wimPath, uint32_t index, const QString &name, const QString *description)
{
    WimHandle wim(imaging(), openArchive(wimPath, WIM_GENERIC_READ_WRITE));
    if (!wim.get())
        return failWith(QStringLiteral("cannot open %1 for writing").arg(wimPath));
    WimHandle image(imaging(), imaging().WIMLoadImage(wim.get(), index));
    if (!image.get())
        return failWith(QStringLiteral("cannot load image %1").arg(index));
    return setTexts(image.get(), name, description);
}

int apply(const QString &wimPath, uint32_t index, const QString &dir)
{
    WimHandle wim(imaging(), openArchive(wimPath, WIM_GENERIC_READ));
    if (!wim.get())
        return failWith(QStringLiteral("cannot open %1").arg(wimPath));
    WimHandle image(imaging(), imaging().WIMLoadImage(wim.get(), index));
    if (!image.get())
        return failWith(QStringLiteral("cannot load image %1").arg(index));
    Callback callback;
    if (!callback.ok)
        return failWith(QStringLiteral("cannot register the message callback"));
    if (!imaging().WIMApplyImage(image.get(), dir, WIM_FLAG_VERIFY | WIM_FLAG_INDEX | volumeFlag(dir)))
        return failWith(QStringLiteral("cannot apply image %1 to %2").arg(index).arg(dir));
    return 0;
}

// Options of export: the compression and form of a new destination.
struct ExportOptions {
    bool haveCompression = false;
    uint32_t compression = WIM_COMPRESS_LZX;
    bool solid = false;
};

bool parseExportOption(const QString &option, ExportOptions *options)
{
    static const std::pair<const char *, uint32_t> kinds[] = {{"none", WIM_COMPRESS_NONE},
                                                              {"xpress", WIM_COMPRESS_XPRESS},
                                                              {"lzx", WIM_COMPRESS_LZX},
                                                              {"lzms", WIM_COMPRESS_LZMS}};
    if (option == QLatin1String("--solid")) {
        options->solid = true;
        return true;
    }
    if (!option.startsWith(QLatin1String("--compress=")))
        return false;
    const QString kind = option.mid(int(std::strlen("--compress="))).toLower();
    for (const auto &[name, value] : kinds) {
        if (kind == QLatin1String(name)) {
            options->haveCompression = true;
            options->compression = value;
            return true;
        }
    }
    return false;
}

int exportImage(const QString &wimPath, uint32_t index, const QString &destination, const ExportOptions &options)
{
    WimHandle wim(imaging(), openArchive(wimPath, WIM_GENERIC_READ));
    if (!wim.get())
        return failWith(QStringLiteral("cannot open %1").arg(wimPath));
    WIM_INFO attributes;
    if (!imaging().WIMGetAttributes(wim.get(), &attributes, sizeof attributes))
        return failWith(QStringLiteral("cannot read the attributes of %1").arg(wimPath));
    WimHandle image(imaging(), imaging().WIMLoadImage(wim.get(), index));
    if (!image.get())
        return failWith(QStringLiteral("cannot load image %1").arg(index));
    uint32_t created = 0;
    const uint32_t compression = options.haveCompression ? options.compression
                                 : options.solid         ? WIM_COMPRESS_LZMS
                                                         : attributes.CompressionType;
    WimHandle target(imaging(), imaging().WIMCreateFile(destination, WIM_GENERIC_READ_WRITE, WIM_OPEN_ALWAYS,
                                                        options.solid ? WIM_FLAG_SOLID : 0, compression, &created));
    if (!target.get())
        return failWith(QStringLiteral("cannot open or create %1").arg(destination));
    Callback callback;
    if (!callback.ok)
        return failWith(QStringLiteral("cannot register the message callback"));
    if (!imaging().WIMExportImage(image.get(), target.get(), WIM_EXPORT_ALLOW_DUPLICATES))
        return failWith(QStringLiteral("cannot export image %1 into %2").arg(index).arg(destination));
    return 0;
}

int change(const QString &command, const QString &wimPath, uint32_t index)
{
    WimHandle wim(imaging(), openArchive(wimPath, WIM_GENERIC_READ_WRITE));
    if (!wim.get())
        return failWith(QStringLiteral("cannot open %1 for writing").arg(wimPath));
    if (command == QLatin1String("delete")) {
        if (!imaging().WIMDeleteImage(wim.get(), index))
            return failWith(QStringLiteral("cannot delete image %1").arg(index));
    } else if (!imaging().WIMSetBootImage(wim.get(), index)) {
        return failWith(QStringLiteral("cannot make image %1 the boot image").arg(index));
    }
    return 0;
}

// An archive opened for reading and one of its images; a failure is
// reported at once and `status` is the exit status to return.
struct OpenImage {
    WimHandle wim;
    WimHandle image;
    int status = 0;
    OpenImage(const QString &wimPath, uint32_t index)
        : wim(imaging(), openArchive(wimPath, WIM_GENERIC_READ))
        , image(imaging(), wim ? imaging().WIMLoadImage(wim.get(), index) : nullptr)
    {
        if (!wim.get())
            status = failWith(QStringLiteral("cannot open %1").arg(wimPath));
        else if (!image.get())
            status = failWith(QStringLiteral("cannot load image %1").arg(index));
    }
};

int dir(const QString &wimPath, uint32_t index, const QString &path)
{
    const OpenImage image(wimPath, index);
    if (image.status)
        return image.status;
    // The path of every entry at `path` and below, depth first in the
    // image's own order: the lines of wimlib-imagex dir, straight from the
    // library's own texts.
    static char buffer[1 << 16];
    std::setvbuf(stdout, buffer, _IOFBF, sizeof buffer);
    bool written = true;
    const bool listed = imaging().WIMVisitImageTree(image.image.get(), path, [&written](const WimDirEntryView &entry) {
        written = std::puts(entry.path.data()) != EOF;  // the library's text ends in a NUL
        return written;
    });
    written = std::fflush(stdout) == 0 && written;
    if (!written)
        return failWith(QStringLiteral("cannot write the listing"));
    if (!listed)
        return failWith(QStringLiteral("cannot list %1 in image %2").arg(path).arg(index));
    // The listing is out and nothing was opened for writing: the process
    // ends without freeing the image's tree one entry at a time (a tenth of
    // the command's time), which its end gives back at once.
    std::_Exit(0);
}

int extract(const QString &wimPath, uint32_t index, const QString &destination, const QStringList &paths)
{
    const OpenImage image(wimPath, index);
    if (image.status)
        return image.status;
    Callback callback;
    if (!callback.ok)
        return failWith(QStringLiteral("cannot register the message callback"));
    // wimlib-imagex makes a missing destination; a failed extraction takes it away again.
    const bool made = !QFileInfo::exists(destination) && QDir().mkdir(destination);
    if (imaging().WIMExtractImagePaths(image.image.get(), paths, destination))
        return 0;
    const int status = failWith(QStringLiteral("cannot extract from image %1 to %2").arg(index).arg(destination));
    if (made)
        QDir().rmdir(destination);
    return status;
}

// Opens the archive, registers the message callback as the program does for
// a long call, and runs `call` on the archive; the command's exit code.
template <typename Call>
int withArchive(const QString &wimPath, uint32_t access, Call call)
{
    WimHandle wim(imaging(), openArchive(wimPath, access));
    if (!wim.get())
        return failWith(QStringLiteral("cannot open %1%2")
                            .arg(wimPath, access & WIM_GENERIC_WRITE ? QStringLiteral(" for writing") : QString()));
    Callback callback;
    if (!callback.ok)
        return failWith(QStringLiteral("cannot register the message callback"));
    return call(wim.get());
}

int split(const QString &wimPath, const QString &firstPart, const QString &partMb)
{
    bool ok = false;
    const double mb = partMb.toDouble(&ok);
    if (!ok || !(mb > 0) || mb > 1e12)
        return usage();
    return withArchive(wimPath, WIM_GENERIC_READ, [&](HWIM wim) {
        if (!imaging().WIMSplitFile(wim, firstPart, uint64_t(mb * 1024 * 1024), 0))
            return failWith(QStringLiteral("cannot split %1 into %2").arg(wimPath, firstPart));
        return 0;
    });
}

int verify(const QString &wimPath)
{
    return withArchive(wimPath, WIM_GENERIC_READ, [&](HWIM wim) {
        ImagingVerifyResult result;
        if (!imaging().WIMVerifyFile(wim, &result))
            return failWith(QStringLiteral("cannot verify %1").arg(wimPath));
        if (result.integrityChecked)
            std::printf("integrity table checked\n");
        for (const ImagingDamagedFile &file : result.damaged) {
            if (file.path.isEmpty())
                std::printf("damaged: image %u: its directory tree\n", file.image);
            else
                std::printf("damaged: image %u: %s\n", file.image, qUtf8Printable(file.path));
        }
        for (const QString &line : result.otherDamage)
            std::printf("damaged: %s\n", qUtf8Printable(line));
        std::printf("%s\n", result.whole ? "whole" : "damaged");
        return result.whole ? 0 : 3;
    });
}

int optimize(const QString &wimPath)
{
    return withArchive(wimPath, WIM_GENERIC_READ_WRITE, [&](HWIM wim) {
        const qint64 before = QFileInfo(wimPath).size();
        if (!imaging().WIMOptimizeFile(wim))
            return failWith(QStringLiteral("cannot optimize %1").arg(wimPath));
        std::printf("%lld bytes -> %lld bytes\n", static_cast<long long>(before),
                    static_cast<long long>(QFileInfo(wimPath).size()));
        return 0;
    });
}

int update(const QString &wimPath, uint32_t index)
{
    QFile input;
    if (!input.open(stdin, QIODevice::ReadOnly)) {
        std::fprintf(stderr, "pellwick-wim: cannot read the commands from standard input\n");
        return 1;
    }
    QList<ImagingUpdate> updates;
    QString wrong;
    if (!parseImageUpdates(QString::fromUtf8(input.readAll()), &updates, &wrong)) {
        std::fprintf(stderr, "pellwick-wim: nothing was changed: %s\n", qUtf8Printable(wrong));
        return 1;
    }
    g_exclude = false;
    return withArchive(wimPath, WIM_GENERIC_READ_WRITE, [&](HWIM wim) {
        WimHandle image(imaging(), imaging().WIMLoadImage(wim, index));
        if (!image.get())
            return failWith(QStringLiteral("cannot load image %1").arg(index));
        if (!imaging().WIMUpdateImage(image.get(), updates))
            return failWith(QStringLiteral("cannot update image %1; nothing was changed").arg(index));
        return 0;
    });
}

}  // namespace

int mount(const QString &wimPath, uint32_t index, const QString &dir, bool readWrite, const QString &staging)
{
    return withArchive(wimPath, readWrite ? WIM_GENERIC_READ_WRITE : WIM_GENERIC_READ, [&](HWIM wim) {
        WimHandle image(imaging(), imaging().WIMLoadImage(wim, index));
        if (!image.get())
            return failWith(QStringLiteral("cannot load image %1").arg(index));
        // Written before the mount: the process that asked ends once the
        // mount is up, and only the serving process comes back here.
        QString ownStaging;
        if (readWrite) {
            const QString parent = staging.isEmpty() ? QFileInfo(wimPath).path() : staging;
            ownStaging = makeStagingFolder(parent);
            if (ownStaging.isEmpty())
                return failWith(QStringLiteral("cannot make a staging folder in %1: %2")
                                    .arg(parent, QString::fromLocal8Bit(std::strerror(errno))));
        }
        const MountRecord record{QFileInfo(dir).absoluteFilePath(), QFileInfo(wimPath).canonicalFilePath(), index,
                                 readWrite, ownStaging};
        if (!writeMountRecord(record))
            std::fprintf(stderr, "pellwick-wim: cannot write the mount's record into %s\n",
                         qUtf8Printable(mountRecordFolder()));
        const bool served =
            imaging().WIMMountImage(image.get(), dir, readWrite ? WIM_MOUNT_FLAG_READWRITE : 0, ownStaging);
        removeStagingFolder(ownStaging);
        removeMountRecord(record.directory);
        return served ? 0 : failWith(QStringLiteral("cannot mount image %1 of %2 on %3").arg(index).arg(wimPath, dir));
    });
}

int unmount(const QString &dir, bool commit)
{
    Callback callback;
    if (!imaging().WIMUnmountImage(dir, commit ? WIM_UNMOUNT_FLAG_COMMIT : 0))
        return failWith(QStringLiteral("cannot unmount %1").arg(dir));
    removeMountRecord(QFileInfo(dir).absoluteFilePath());
    return 0;
}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    if (!args.isEmpty() && args.first() == QLatin1String("-v")) {
        g_verbose = true;
        args.removeFirst();
    }
    if (args.isEmpty())
        return usage();
    const QString command = args.takeFirst();
    uint32_t index = 0;
    if (command == QLatin1String("info") && args.size() == 1)
        return info(args[0]);
    if (command == QLatin1String("capture")) {
        const bool fullRead = args.removeAll(QStringLiteral("--full-read")) > 0;
        if (args.size() == 2 || args.size() == 3)
            return capture(args[0], args[1], args.value(2), fullRead);
        return usage();
    }
    if (command == QLatin1String("apply") && args.size() == 3) {
        if (!parseIndex(args[1], &index))
            return usage();
        return apply(args[0], index, args[2]);
    }
    if (command == QLatin1String("export") && args.size() >= 3) {
        ExportOptions options;
        for (qsizetype i = 3; i < args.size(); ++i) {
            if (!parseExportOption(args[i], &options))
                return usage();
        }
        if (!parseIndex(args[1], &index))
            return usage();
        return exportImage(args[0], index, args[2], options);
    }
    if (command == QLatin1String("split") && args.size() == 3)
        return split(args[0], args[1], args[2]);
    if (command == QLatin1String("verify") && args.size() == 1)
        return verify(args[0]);
    if (command == QLatin1String("optimize") && args.size() == 1)
        return optimize(args[0]);
    if ((command == QLatin1String("delete") || command == QLatin1String("setboot")) && args.size() == 2) {
        if (!parseIndex(args[1], &index))
            return usage();
        return change(command, args[0], index);
    }
    if (command == QLatin1String("update") && args.size() == 2) {
        if (!parseIndex(args[1], &index))
            return usage();
        return update(args[0], index);
    }
    if (command == QLatin1String("dir") && (args.size() == 2 || args.size() == 3)) {
        if (!parseIndex(args[1], &index))
            return usage();
        return dir(args[0], index, args.value(2, QStringLiteral("/")));
    }
    if (command == QLatin1String("extract") && args.size() >= 4) {
        if (!parseIndex(args[1], &index))
            return usage();
        return extract(args[0], index, args[2], args.mid(3));
    }
    if (command == QLatin1String("mount") && args.size() >= 3) {
        bool readWrite = false;
        QString staging;
        for (qsizetype i = 3; i < args.size(); ++i) {
            if (args[i] == QLatin1String("--rw"))
                readWrite = true;
            else if (args[i] == QLatin1String("--staging") && i + 1 < args.size())
                staging = args[++i];
            else
                return usage();
        }
        if (!parseIndex(args[1], &index))
            return usage();
        return mount(args[0], index, args[2], readWrite, staging);
    }
    if (command == QLatin1String("unmount") && (args.size() == 1 || args.size() == 2)) {
        if (args.size() == 2 && args[1] != QLatin1String("--commit") && args[1] != QLatin1String("--discard"))
            return usage();
        return unmount(args[0], args.value(1) == QLatin1String("--commit"));
    }
    if (command == QLatin1String("setinfo") && (args.size() == 3 || args.size() == 4)) {
        if (!parseIndex(args[1], &index))
            return usage();
        const QString description = args.value(3);
        return setInfo(args[0], index, args[2], args.size() == 4 ? &description : nullptr);
    }
    return usage();
}
