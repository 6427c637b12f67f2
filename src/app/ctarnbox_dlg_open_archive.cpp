// Opening and creating archives.
#include "app/ctarnbox_dlg.h"

#include "imaging/imaging_library.h"
#include "imaging/split_parts.h"
#include "support/error_cause.h"
#include "support/ui_thread.h"

#include <QFileInfo>
#include <QTableWidget>

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

// Why the archive at `path` did not open, from the last attempt's failure.
// The chosen file is there yet something was not found: a part of its split
// set is missing (the library's own words name it too), and the user learns which.
QString openFailureCause(const QString &path, const ImagingError &error)
{
    if (error.kind == ImagingError::Kind::NotFound && QFileInfo(path).isFile()) {
        const QString missing = splitparts::firstMissingPart(path);
        if (!missing.isEmpty() && error.text.contains(QFileInfo(missing).fileName())) {
            return QStringLiteral("缺少分卷文件 %1，它应与 %2 放在同一文件夹中")
                .arg(QFileInfo(missing).fileName(), QFileInfo(path).fileName());
        }
    }
    return errorCause(error);
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
    m_strFilePath = path;
    if (m_hWim) {
        imaging().WIMCloseHandle(m_hWim);
        m_hWim = nullptr;
        m_strArchiveOnDisk.clear();
    }

    for (const AccessLevel &access : kAccessLevels) {
        m_nAccess = access.level;
        m_strAccess = QString::fromUtf16(access.label);
        m_hWim = imaging().WIMCreateFile(path, access.desiredAccess, WIM_OPEN_EXISTING, WIM_FLAG_SHARE_WRITE,
                                         WIM_COMPRESS_LZX, nullptr);
        if (m_hWim)
            break;
    }
    if (!m_hWim) {
        // The window keeps showing the previous archive's rows and fields.
        m_strAccess.clear();
        m_nAccess = -1;
        uiThread::messageBox(this, QStringLiteral("文件无法打开！"), QStringLiteral("错误提示"), MB_OK,
                             openFailureCause(path, imaging().LastError()));
        return;
    }
    m_strArchiveOnDisk = QFileInfo(path).canonicalFilePath();

    if (!imaging().WIMSetTemporaryPath(m_hWim, m_strWorkDir)) {
        uiThread::messageBox(this, QStringLiteral("无法设置临时目录，请手动设置！"), QStringLiteral("错误提示"));
        m_strWorkDir.clear();
    }
    if (!LoadImageList())
        uiThread::messageBox(this, QStringLiteral("文件无法打开！"), QStringLiteral("错误提示"));
}

void CTarnboxDlg::NewArchive()
{
    const QString path = uiThread::saveFile(this, archiveChooser());
    if (path.isEmpty())
        return;
    HWIM created = imaging().WIMCreateFile(path, WIM_GENERIC_READ_WRITE, WIM_CREATE_ALWAYS, WIM_FLAG_SHARE_WRITE,
                                           WIM_COMPRESS_LZX, nullptr);
    if (!created) {
        uiThread::messageBox(this, QStringLiteral("文件创建失败！"));
        return;
    }
    if (m_hWim)
        imaging().WIMCloseHandle(m_hWim);
    m_hWim = created;
    m_strArchiveOnDisk = QFileInfo(path).canonicalFilePath();

    m_Images.reset();
    m_List->setRowCount(0);

    if (!imaging().WIMSetTemporaryPath(m_hWim, m_strWorkDir)) {
        uiThread::messageBox(this, QStringLiteral("临时文件设置失败！"), QStringLiteral("错误提示"));
        m_strWorkDir.clear();
    }
    m_nAccess = 2;
    m_strAccess = QStringLiteral("读取和写入");
    m_strCompression = QStringLiteral("最大压缩");
    m_nImageCount = 0;
    m_strFilePath = path;
    RefreshWindow();

    AddImage();
}
