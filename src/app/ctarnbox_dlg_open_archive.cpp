// Opening and creating archives.
#include "app/ctarnbox_dlg.h"

#include "archive/archive_log.h"
#include "imaging/imaging_library.h"
#include "imaging/split_parts.h"
#include "resources/resource_ids.h"
#include "support/error_cause.h"
#include "support/failure_report.h"
#include "support/ui_thread.h"

#include <QFileInfo>
#include <QTableWidget>
#include <QTimer>

namespace {

FileChooser archiveChooser()
{
    FileChooser chooser;
    chooser.filter = QStringLiteral("Wim镜像(*.wim)|*.wim||");
    chooser.defaultExtension = QStringLiteral("wim");
    chooser.initialName = QStringLiteral("Wim镜像");
    chooser.overwritePrompt = true;
    return chooser;
}

// Opening also takes what installation media hold: ESD files and the first
// part of a split set. The first type offers them all at once.
FileChooser openChooser()
{
    FileChooser chooser = archiveChooser();
    chooser.filter = QStringLiteral("映像文件(*.wim *.esd *.swm)|*.wim;*.esd;*.swm|Wim镜像(*.wim)|*.wim|"
                                    "ESD镜像(*.esd)|*.esd|分卷映像(*.swm)|*.swm||");
    return chooser;
}

// The chosen file is there yet something was not found: a part of its split
// set is missing (the library's own words name it too), and the user learns
// which. "" when that is not why the archive did not open.
QString missingPartCause(const QString &path, const ImagingError &error)
{
    if (error.kind == ImagingError::Kind::NotFound && QFileInfo(path).isFile()) {
        const QString missing = splitparts::firstMissingPart(path);
        if (!missing.isEmpty() && error.text.contains(QFileInfo(missing).fileName())) {
            return QStringLiteral("缺少分卷文件 %1，它应与 %2 放在同一文件夹中")
                .arg(QFileInfo(missing).fileName(), QFileInfo(path).fileName());
        }
    }
    return {};
}

struct AccessLevel {
    uint32_t desiredAccess;
    qint16 level;
    const char16_t *label;
};

// Tried in this order; the first that opens sets the access level.
constexpr AccessLevel kAccessLevels[] = {
    {WIM_GENERIC_READ_WRITE, 2, u"读取和写入"},
    {WIM_GENERIC_READ, 1, u"仅读取"},
    {0, 0, u"无权限"},
};

}  // namespace

void CTarnboxDlg::OpenArchive()
{
    const QString path = uiThread::openFile(this, openChooser());
    if (path.isEmpty())
        return;
    OpenArchive(path);
}

void CTarnboxDlg::OpenAtStart(const QString &path)
{
    // Once the window runs, so that a failure's message has its owner shown.
    QTimer::singleShot(0, this, [this, path] { OnCommand(res::ID_OPEN_FILE, path); });
}

void CTarnboxDlg::OpenArchive(const QString &path)
{
    m_strFilePath = path;
    if (m_hWim) {
        CloseBrowseDialogs();
        m_hWim.close();
        m_strArchiveOnDisk.clear();
    }

    QList<ImagingError> failures;
    for (const AccessLevel &access : kAccessLevels) {
        m_nAccess = access.level;
        m_strAccess = QString::fromUtf16(access.label);
        m_hWim.reset(imaging(), imaging().WIMCreateFile(path, access.desiredAccess, WIM_OPEN_EXISTING,
                                                        WIM_FLAG_SHARE_WRITE, WIM_COMPRESS_LZX, nullptr));
        if (m_hWim)
            break;
        failures << imaging().LastError();
    }
    if (!m_hWim) {
        // The window keeps showing the previous archive's rows and fields.
        m_strAccess.clear();
        m_nAccess = -1;
        WatchArchive();
        const ImagingError failure = mostTellingFailure(failures);
        const QString text = QStringLiteral("文件无法打开！");
        if (const QString missing = missingPartCause(path, failure); !missing.isEmpty())
            reportFileFailure(lcArchive, this, text, QStringLiteral("错误提示"), path, missing);
        else
            reportFileFailure(lcArchive, this, text, QStringLiteral("错误提示"), path, errorCause(failure),
                              failure.text);
        return;
    }
    m_strArchiveOnDisk = QFileInfo(path).canonicalFilePath();
    m_recent.add(path);
    WatchArchive();

    if (!imaging().WIMSetTemporaryPath(m_hWim.get(), m_strWorkDir)) {
        reportFailure(lcArchive, this, QStringLiteral("无法设置临时目录，请手动设置！"), QStringLiteral("错误提示"),
                      imaging().LastError());
        m_strWorkDir.clear();
    }
    // The listing has logged its failure; this is the same one, told again.
    QString cause;
    if (!LoadImageList(&cause))
        uiThread::messageBox(this, QStringLiteral("文件无法打开！"), QStringLiteral("错误提示"), MB_OK,
                             fileFailureDetail(path, cause));
}

void CTarnboxDlg::NewArchive()
{
    const QString path = uiThread::saveFile(this, archiveChooser());
    if (path.isEmpty())
        return;
    WimHandle created(imaging(), imaging().WIMCreateFile(path, WIM_GENERIC_READ_WRITE, WIM_CREATE_ALWAYS,
                                                         WIM_FLAG_SHARE_WRITE, WIM_COMPRESS_LZX, nullptr));
    if (!created) {
        reportFailure(lcArchive, this, QStringLiteral("文件创建失败！"), {}, imaging().LastError());
        return;
    }
    CloseBrowseDialogs();
    m_hWim = std::move(created);
    m_strArchiveOnDisk = QFileInfo(path).canonicalFilePath();
    m_recent.add(path);
    WatchArchive();

    m_Images.reset();
    m_List->setRowCount(0);

    if (!imaging().WIMSetTemporaryPath(m_hWim.get(), m_strWorkDir)) {
        reportFailure(lcArchive, this, QStringLiteral("临时文件设置失败！"), QStringLiteral("错误提示"),
                      imaging().LastError());
        m_strWorkDir.clear();
    }
    m_nAccess = 2;
    m_nTotalParts = 1;
    m_strAccess = QStringLiteral("读取和写入");
    m_strCompression = QStringLiteral("最大压缩");
    m_nImageCount = 0;
    m_strFilePath = path;
    RefreshWindow();

    AddImage();
}

void CTarnboxDlg::UseRecentArchivesFrom(QSettings *settings)
{
    m_recent = RecentArchives(settings);
}

void CTarnboxDlg::OpenRecentArchive(int i)
{
    const QStringList paths = m_recent.paths();
    if (i >= 0 && i < paths.size())
        OpenArchive(paths[i]);
}
