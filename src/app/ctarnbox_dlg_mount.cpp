// Mounting the selected image as a folder: each mount is served by a
// pellwick-wim process of its own and kept by the runner as a lasting
// operation until it is unmounted, by this run or a later one.
#include "app/ctarnbox_dlg.h"

#include "operations/mounted_image.h"
#include "support/ui_thread.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QProcess>
#include <QStyle>
#include <QTableWidget>
#include <QUrl>

namespace {

std::shared_ptr<MountedImage> mountOf(const OperationRunner &runner, const QString &archive, uint32_t image)
{
    for (const auto &lasting : runner.lasting()) {
        auto mount = std::dynamic_pointer_cast<MountedImage>(lasting);
        if (mount && mount->record().archive == archive && mount->record().image == image)
            return mount;
    }
    return nullptr;
}

}  // namespace

void CTarnboxDlg::MountImage(bool readWrite)
{
    OperationRunner::Claim claim = m_runner.claim();
    const int row = SelectedRow();
    if (!claim || row < 0 || !m_hWim)
        return;
    if (readWrite && (m_nTotalParts > 1 || m_nAccess != 2)) {
        ReportWriteRefused();
        return;
    }
    const uint32_t image = uint32_t(row + 1);
    if (mountOf(m_runner, m_strArchiveOnDisk, image)) {
        uiThread::messageBox(this, QStringLiteral("该映像已经挂载，请先卸载映像。"), QStringLiteral("错误提示"));
        return;
    }
    // Opens in the working directory, where a new folder is one click away.
    const QString folder = PickFolder(this, m_strWorkDir);
    if (folder.isEmpty())
        return;
    if (!QDir(folder).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System)) {
        uiThread::messageBox(this, QStringLiteral("请选择一个空文件夹作为挂载位置。"), QStringLiteral("错误提示"),
                             MB_OK, folder);
        return;
    }
    // The changed files of a read-write mount live in the working directory
    // until the unmount.
    const MountRecord record{QFileInfo(folder).absoluteFilePath(), m_strArchiveOnDisk, image, readWrite,
                             readWrite ? m_strWorkDir : QString()};
    m_runner.start(std::move(claim), std::make_unique<MountOperation>(record));
}

void CTarnboxDlg::UnmountImage()
{
    OperationRunner::Claim claim = m_runner.claim();
    const int row = SelectedRow();
    if (!claim || row < 0)
        return;
    const auto mount = mountOf(m_runner, m_strArchiveOnDisk, uint32_t(row + 1));
    if (!mount) {
        uiThread::messageBox(this, QStringLiteral("该映像没有挂载。"), QStringLiteral("温馨提示"));
        return;
    }
    bool commit = false;
    if (mount->hasChanges()) {
        const int answer = uiThread::choose(
            this, QStringLiteral("卸载映像前，是否将 %1 中的更改写入映像文件？").arg(mount->record().directory),
            QStringLiteral("卸载映像"),
            {QStringLiteral("提交更改"), QStringLiteral("放弃更改"), QStringLiteral("取消")});
        if (answer < 0 || answer == 2)
            return;
        commit = answer == 0;
    }
    m_runner.start(std::move(claim),
                   mount->ending(commit ? LastingOperation::Ending::Commit : LastingOperation::Ending::Discard));
}

void CTarnboxDlg::OfferRecordedMounts()
{
    QStringList dead;
    for (const MountRecord &record : mountRecords()) {
        if (mountState(record.directory) == MountState::Dead) {
            // Its serving process is gone: the folder only answers "Transport
            // endpoint is not connected" until it is unmounted.
            clearDeadMount(record.directory);
            dead << record.directory;
            continue;
        }
        if (!mountOf(m_runner, record.archive, record.image))
            m_runner.keep(std::make_shared<MountedImage>(record));
    }
    if (!dead.isEmpty())
        uiThread::messageBox(this,
                             QStringLiteral("以下挂载的服务进程已意外结束，已将其卸载，未提交的更改已丢失：\n%1")
                                 .arg(dead.join(QLatin1Char('\n'))),
                             QStringLiteral("温馨提示"), MB_OK | MB_ICONEXCLAMATION);
    const auto kept = m_runner.lasting();
    if (kept.isEmpty())
        return;
    QStringList lines;
    bool changes = false;
    for (const auto &one : kept) {
        lines << one->description();
        changes = changes || one->hasChanges();
    }
    const QStringList buttons =
        changes ? QStringList{QStringLiteral("提交更改"), QStringLiteral("放弃更改"), QStringLiteral("保持挂载")}
                : QStringList{QStringLiteral("卸载映像"), QStringLiteral("保持挂载")};
    const int answer = uiThread::choose(this,
                                        QStringLiteral("上次运行时挂载的以下映像仍处于挂载状态：\n%1\n是否现在卸载？")
                                            .arg(lines.join(QLatin1Char('\n'))),
                                        QStringLiteral("温馨提示"), buttons);
    if (answer < 0 || answer == buttons.size() - 1) {
        ShowMounts();
        return;
    }
    const auto how = answer == 0 && changes ? LastingOperation::Ending::Commit : LastingOperation::Ending::Discard;
    std::vector<std::shared_ptr<Operation>> endings;
    for (const auto &one : kept)
        endings.push_back(one->ending(how));
    m_runner.start(m_runner.claim(), [this, endings] {
        for (const auto &ending : endings)
            m_runner.run(*ending);
    });
}

void CTarnboxDlg::LastingOperationsChanged(const QString &folderToShow)
{
    ShowMounts();
    // Only where there is a desktop to show it on.
    if (!folderToShow.isEmpty() && QGuiApplication::platformName() != QLatin1String("offscreen"))
        QDesktopServices::openUrl(QUrl::fromLocalFile(folderToShow));
}

void CTarnboxDlg::ShowMounts()
{
    // Where each mounted image of the archive is, at the foot of the list.
    QLabel *where = m_List->viewport()->findChild<QLabel *>(QStringLiteral("mountsShown"));
    if (!where) {
        where = new QLabel(m_List->viewport());
        where->setObjectName(QStringLiteral("mountsShown"));
        where->setTextFormat(Qt::PlainText);
        where->setAttribute(Qt::WA_TransparentForMouseEvents);
        where->setForegroundRole(QPalette::PlaceholderText);
    }
    QStringList lines;
    for (int row = 0; row < m_List->rowCount(); ++row) {
        const auto mount = m_hWim ? mountOf(m_runner, m_strArchiveOnDisk, uint32_t(row + 1)) : nullptr;
        const QString place = mount ? QStringLiteral("已挂载于 %1%2")
                                          .arg(mount->record().directory,
                                               mount->record().readWrite ? QStringLiteral("（可修改）") : QString())
                                    : QString();
        for (int column = 0; column < m_List->columnCount(); ++column) {
            if (QTableWidgetItem *item = m_List->item(row, column)) {
                item->setToolTip(place);
                if (column == 0)
                    item->setIcon(mount ? style()->standardIcon(QStyle::SP_DriveHDIcon) : QIcon());
            }
        }
        if (mount)
            lines << QStringLiteral("映像 %1 ").arg(row + 1) + place;
    }
    where->setText(lines.join(QLatin1Char('\n')));
    const int height = where->sizeHint().height();
    const QRect area = m_List->viewport()->rect();
    where->setGeometry(area.left() + 6, area.bottom() - height - 4, area.width() - 12, height);
    where->setVisible(!lines.isEmpty());
}
