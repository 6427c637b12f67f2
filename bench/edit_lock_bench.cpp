// What the guard against other programs adds to an edit of an image's texts:
// the file lock taken and dropped, and the three looks at the file's identity
// (before the change, right before its write, after it), timed alone and
// beside whole edits through the imaging boundary on the same archive.
//   edit_lock_bench WIMFILE [REPEATS]
// Prints "edit <ms> guard <us>": medians per edit.
#include "imaging/archive_file_lock.h"
#include "imaging/imaging_library.h"
#include "imaging/wim_handle.h"

#include <QFile>
#include <QString>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <sys/stat.h>

namespace {

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double secondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: edit_lock_bench WIMFILE [REPEATS]\n");
        return 2;
    }
    const QString path = QString::fromLocal8Bit(argv[1]);
    const int repeats = argc > 2 ? std::max(1, std::atoi(argv[2])) : 15;
    ImagingLibrary &lib = imaging();
    WimHandle wim(lib,
                  lib.WIMCreateFile(path, WIM_GENERIC_READ_WRITE, WIM_OPEN_EXISTING, 0, WIM_COMPRESS_LZX, nullptr));
    WimHandle image(lib, wim ? lib.WIMLoadImage(wim.get(), 1) : nullptr);
    if (!image) {
        std::fprintf(stderr, "edit_lock_bench: %s\n", qUtf8Printable(lib.LastErrorText()));
        return 1;
    }
    const QByteArray native = QFile::encodeName(path);
    std::vector<double> edits, guards;
    for (int r = 0; r < repeats; ++r) {
        const QString xml = QStringLiteral("<IMAGE><NAME>edit %1</NAME></IMAGE>").arg(r);
        auto start = std::chrono::steady_clock::now();
        if (!lib.WIMSetImageInformation(image.get(), xml, uint32_t(xml.size() * 2))) {
            std::fprintf(stderr, "edit_lock_bench: %s\n", qUtf8Printable(lib.LastErrorText()));
            return 1;
        }
        edits.push_back(secondsSince(start));

        start = std::chrono::steady_clock::now();
        {
            ArchiveFileLock lock;
            ImagingError error;
            if (!lock.take(native, ArchiveFileLock::Mode::Exclusive, true, &error)) {
                std::fprintf(stderr, "edit_lock_bench: %s\n", qUtf8Printable(error.text));
                return 1;
            }
            struct stat st;
            for (int look = 0; look < 3; ++look)
                ::stat(native.constData(), &st);
        }
        guards.push_back(secondsSince(start));
    }
    image.close();
    wim.close();
    std::printf("edit %.3f guard %.1f\n", median(edits) * 1000, median(guards) * 1e6);
    return 0;
}
