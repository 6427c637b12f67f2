// Opens an image's tree and lists one folder through the imaging boundary, as
// the browse dialog's first view does; prints how many entries it holds.
//   browse_bench [--close] WIMFILE INDEX [PATH]
// It then exits at once: freeing the tree is not part of what the dialog's
// user waits for (the dialog frees it when it closes). --close closes the
// handles first, which frees the archive's and the view's WIMStructs.
#include "imaging/imaging_library.h"
#include "imaging/wim_handle.h"

#include <QString>

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char **argv)
{
    const bool close = argc > 1 && std::strcmp(argv[1], "--close") == 0;
    if (close) {
        --argc;
        ++argv;
    }
    if (argc < 3) {
        std::fprintf(stderr, "usage: browse_bench [--close] WIMFILE INDEX [PATH]\n");
        return 2;
    }
    ImagingLibrary &lib = imaging();
    WimHandle wim(lib, lib.WIMCreateFile(QString::fromLocal8Bit(argv[1]), WIM_GENERIC_READ, WIM_OPEN_EXISTING,
                                         WIM_FLAG_SHARE_WRITE, WIM_COMPRESS_LZX, nullptr));
    WimHandle image(lib, wim ? lib.WIMLoadImage(wim.get(), uint32_t(std::atoi(argv[2]))) : nullptr);
    QList<WimDirEntry> entries;
    const QString path = argc > 3 ? QString::fromLocal8Bit(argv[3]) : QStringLiteral("/");
    if (!image || !lib.WIMListImageFolder(image.get(), path, nullptr, &entries)) {
        std::fprintf(stderr, "browse_bench: %s\n", qPrintable(lib.LastErrorText()));
        return 1;
    }
    std::printf("%lld\n", static_cast<long long>(entries.size()));
    std::fflush(stdout);
    if (!close)
        std::_Exit(0);  // skips the process-wide backend's destructor too
    image.close();
    wim.close();
    return 0;
}
