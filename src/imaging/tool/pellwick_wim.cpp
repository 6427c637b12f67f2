// pellwick-wim: a developer's command-line driver of the imaging boundary.
// Every command goes through imaging() only, with a message callback that
// does per path what the program does (an exclusion-list test), so that
// timings compare with the program's.

#include "imaging/imaging_library.h"
#include "imaging/wimlib_xml.h"

#include <QCoreApplication>
#include <QStringList>

#include <cstdio>

namespace {

// The program's eight default exclusions, relative to a drive root.
const QStringView kExclusions[] = {
    u"\\hiberfil.sys",   u"\\pagefile.sys",  u"\\swapfile.sys", u"\\$recycle.bin\\", u"\\system volume information\\",
    u"\\windows\\logs\\", u"\\windows\\csc\\", u"\\windows\\temp\\",
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
bool g_verbose = false;

uint32_t onMessage(uint32_t message, uintptr_t wParam, intptr_t lParam, void *)
{
    const auto *path = reinterpret_cast<const char16_t *>(wParam);
    switch (message) {
    case WIM_MSG_PROCESS: {
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
        const char *kind = message == WIM_MSG_ERROR ? "error" : message == WIM_MSG_RETRY ? "retry"
                         : message == WIM_MSG_INFO  ? "info"  : "warning";
        std::fprintf(stderr, "%s: %s [err = %d]\n", kind, qUtf8Printable(QString::fromUtf16(path)), int(lParam));
        return WIM_MSG_SUCCESS;
    }
    default:
        return WIM_MSG_SUCCESS;
    }
}

int failWith(const QString &what)
{
    std::fprintf(stderr, "pellwick-wim: %s: %s\n", qUtf8Printable(what), qUtf8Printable(imaging().LastErrorText()));
    return 1;
}

int usage()
{
    std::fprintf(stderr,
                 "usage: pellwick-wim [-v] info WIM\n"
                 "       pellwick-wim [-v] capture DIR WIM [NAME]\n"
                 "       pellwick-wim [-v] apply WIM INDEX DIR\n"
                 "       pellwick-wim [-v] export WIM INDEX DEST\n"
                 "       pellwick-wim [-v] delete WIM INDEX\n"
                 "       pellwick-wim [-v] setboot WIM INDEX\n"
                 "       pellwick-wim [-v] setinfo WIM INDEX NAME [DESCRIPTION]\n");
    return 2;
}

// Closes a handle when the command ends, whichever way.
struct Handle {
    HWIM h = nullptr;
    explicit Handle(HWIM handle) : h(handle) {}
    ~Handle()
    {
        if (h)
            imaging().WIMCloseHandle(h);
    }
    Handle(const Handle &) = delete;
    Handle &operator=(const Handle &) = delete;
};

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
    Handle wim(openArchive(wimPath, WIM_GENERIC_READ));
    if (!wim.h)
        return failWith(QStringLiteral("cannot open %1").arg(wimPath));
    WIM_INFO attributes;
    if (!imaging().WIMGetAttributes(wim.h, &attributes, sizeof attributes))
        return failWith(QStringLiteral("cannot read the attributes of %1").arg(wimPath));
    std::printf("images %u\ncompression %u\nboot %u\n", attributes.ImageCount, attributes.CompressionType,
                attributes.BootIndex);
    for (uint32_t i = 1; i <= attributes.ImageCount; ++i) {
        Handle image(imaging().WIMLoadImage(wim.h, i));
        QString xml;
        if (!image.h || !imaging().WIMGetImageInformation(image.h, &xml, nullptr))
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
    auto texts = wimxml::editableTexts(xml).value_or(wimxml::EditableTexts {});
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

int capture(const QString &dir, const QString &wimPath, const QString &name)
{
    Handle wim(imaging().WIMCreateFile(wimPath, WIM_GENERIC_READ_WRITE, WIM_OPEN_ALWAYS, 0, WIM_COMPRESS_LZX, nullptr));
    if (!wim.h)
        return failWith(QStringLiteral("cannot open or create %1").arg(wimPath));
    Callback callback;
    if (!callback.ok)
        return failWith(QStringLiteral("cannot register the message callback"));
    g_rootLength = dir.size();
    Handle image(imaging().WIMCaptureImage(wim.h, dir, 0));
    if (!image.h)
        return failWith(QStringLiteral("cannot capture %1").arg(dir));
    if (name.isEmpty())
        return 0;
    return setTexts(image.h, name, nullptr);
}

int setInfo(const QString &wimPath, uint32_t index, const QString &name, const QString *description)
{
    Handle wim(openArchive(wimPath, WIM_GENERIC_READ_WRITE));
    if (!wim.h)
        return failWith(QStringLiteral("cannot open %1 for writing").arg(wimPath));
    Handle image(imaging().WIMLoadImage(wim.h, index));
    if (!image.h)
        return failWith(QStringLiteral("cannot load image %1").arg(index));
    return setTexts(image.h, name, description);
}

int apply(const QString &wimPath, uint32_t index, const QString &dir)
{
    Handle wim(openArchive(wimPath, WIM_GENERIC_READ));
    if (!wim.h)
        return failWith(QStringLiteral("cannot open %1").arg(wimPath));
    Handle image(imaging().WIMLoadImage(wim.h, index));
    if (!image.h)
        return failWith(QStringLiteral("cannot load image %1").arg(index));
    Callback callback;
    if (!callback.ok)
        return failWith(QStringLiteral("cannot register the message callback"));
    if (!imaging().WIMApplyImage(image.h, dir, WIM_FLAG_VERIFY | WIM_FLAG_INDEX))
        return failWith(QStringLiteral("cannot apply image %1 to %2").arg(index).arg(dir));
    return 0;
}

int exportImage(const QString &wimPath, uint32_t index, const QString &destination)
{
    Handle wim(openArchive(wimPath, WIM_GENERIC_READ));
    if (!wim.h)
        return failWith(QStringLiteral("cannot open %1").arg(wimPath));
    WIM_INFO attributes;
    if (!imaging().WIMGetAttributes(wim.h, &attributes, sizeof attributes))
        return failWith(QStringLiteral("cannot read the attributes of %1").arg(wimPath));
    Handle image(imaging().WIMLoadImage(wim.h, index));
    if (!image.h)
        return failWith(QStringLiteral("cannot load image %1").arg(index));
    uint32_t created = 0;
    Handle target(imaging().WIMCreateFile(destination, WIM_GENERIC_READ_WRITE, WIM_OPEN_ALWAYS, 0,
                                          attributes.CompressionType, &created));
    if (!target.h)
        return failWith(QStringLiteral("cannot open or create %1").arg(destination));
    Callback callback;
    if (!callback.ok)
        return failWith(QStringLiteral("cannot register the message callback"));
    if (!imaging().WIMExportImage(image.h, target.h, WIM_EXPORT_ALLOW_DUPLICATES))
        return failWith(QStringLiteral("cannot export image %1 into %2").arg(index).arg(destination));
    return 0;
}

int change(const QString &command, const QString &wimPath, uint32_t index)
{
    Handle wim(openArchive(wimPath, WIM_GENERIC_READ_WRITE));
    if (!wim.h)
        return failWith(QStringLiteral("cannot open %1 for writing").arg(wimPath));
    if (command == QLatin1String("delete")) {
        if (!imaging().WIMDeleteImage(wim.h, index))
            return failWith(QStringLiteral("cannot delete image %1").arg(index));
    } else if (!imaging().WIMSetBootImage(wim.h, index)) {
        return failWith(QStringLiteral("cannot make image %1 the boot image").arg(index));
    }
    return 0;
}

}  // namespace

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
    if (command == QLatin1String("capture") && (args.size() == 2 || args.size() == 3))
        return capture(args[0], args[1], args.value(2));
    if (command == QLatin1String("apply") && args.size() == 3) {
        if (!parseIndex(args[1], &index))
            return usage();
        return apply(args[0], index, args[2]);
    }
    if (command == QLatin1String("export") && args.size() == 3) {
        if (!parseIndex(args[1], &index))
            return usage();
        return exportImage(args[0], index, args[2]);
    }
    if ((command == QLatin1String("delete") || command == QLatin1String("setboot")) && args.size() == 2) {
        if (!parseIndex(args[1], &index))
            return usage();
        return change(command, args[0], index);
    }
    if (command == QLatin1String("setinfo") && (args.size() == 3 || args.size() == 4)) {
        if (!parseIndex(args[1], &index))
            return usage();
        const QString description = args.value(3);
        return setInfo(args[0], index, args[2], args.size() == 4 ? &description : nullptr);
    }
    return usage();
}
