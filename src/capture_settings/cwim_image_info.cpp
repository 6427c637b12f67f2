#include "capture_settings/cwim_image_info.h"

#include "capture_settings/edited_text.h"
#include "resources/app_icon.h"
#include "resources/resource_ids.h"
#include "resources/template_builder.h"
#include "support/background_task.h"
#include "support/platform.h"
#include "support/ui_thread.h"

#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QTextDocument>

#include <limits>

CWIM_Image_Info::CWIM_Image_Info(QWidget *parent) : QDialog(parent)
{
    const auto controls = buildDialogFromTemplate(this, res::imageInfoTemplate());
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint
                   | Qt::MSWindowsFixedSizeDialogHint);
    setWindowIcon(appIcon());

    m_edDisplayName = qobject_cast<QLineEdit *>(controls.value(res::IDC_DISPLAY_NAME));
    m_edDisplayDescription = qobject_cast<QPlainTextEdit *>(controls.value(res::IDC_DISPLAY_DESCRIPTION));
    m_edImageName = qobject_cast<QLineEdit *>(controls.value(res::IDC_IMAGE_NAME));
    m_edImageDescription = qobject_cast<QPlainTextEdit *>(controls.value(res::IDC_IMAGE_DESCRIPTION));
    m_edSystemFlag = qobject_cast<QLineEdit *>(controls.value(res::IDC_SYSTEM_FLAG));
    m_edCapturePath = qobject_cast<QLineEdit *>(controls.value(res::IDC_CAPTURE_PATH));
    m_lblCapturePath = qobject_cast<QLabel *>(controls.value(res::IDC_CAPTURE_PATH_LABEL));
    m_lblCheckStatus = qobject_cast<QLabel *>(controls.value(res::IDC_CHECK_STATUS));
    m_btnBrowse = qobject_cast<QPushButton *>(controls.value(res::IDC_BROWSE_PATH));
    m_btnOk = qobject_cast<QPushButton *>(controls.value(res::kIdOk));
    m_btnCancel = qobject_cast<QPushButton *>(controls.value(res::kIdCancel));
    // Texts longer than a line edit's default limit of 32,767 characters
    // would be cut when shown.
    for (QLineEdit *box : {m_edDisplayName, m_edImageName, m_edSystemFlag})
        box->setMaxLength(std::numeric_limits<int>::max());

    // Off the template: on the row of OK and Cancel, from the left margin of
    // the capture path's label to just before OK, so that whatever layout
    // the template gives those controls it stays clear of them.
    m_chkFullRead = new QCheckBox(QStringLiteral("完整读取所有文件（不跳过未更改的文件）"), this);
    m_chkFullRead->setObjectName(QStringLiteral("IDC_FULL_READ"));
    const QRect ok = m_btnOk->geometry();
    const int left = m_lblCapturePath->geometry().left();
    const int height = m_chkFullRead->sizeHint().height();
    m_chkFullRead->setGeometry(left, ok.center().y() - height / 2, ok.left() - left - 4, height);

    // The caller may leave this unset; the running system is never a source.
    m_systemDrive = platform::systemDriveRoot();

    connect(m_btnOk, &QPushButton::clicked, this, &CWIM_Image_Info::OnOK);
    connect(m_btnCancel, &QPushButton::clicked, this, &CWIM_Image_Info::OnCancel);
    connect(m_btnBrowse, &QPushButton::clicked, this, &CWIM_Image_Info::OnBrowse);
    connect(m_edCapturePath, &QLineEdit::textChanged, this, &CWIM_Image_Info::onCapturePathEdited);
}

namespace {

// A box is read back only when the user changed it since our last refresh:
// the boxes cannot give back every text unchanged (a multi-line box turns
// CR LF into LF), and a text nobody touched must reach the archive as it was.
void readIfChanged(const QLineEdit *box, QString &member)
{
    if (box->isModified())
        member = box->text();
}

void readIfChanged(const QPlainTextEdit *box, QString &member)
{
    if (box->document()->isModified())
        member = textFromEditor(box->document()->toRawText(), member);
}

}  // namespace

void CWIM_Image_Info::UpdateData(bool save)
{
    if (save) {
        readIfChanged(m_edDisplayName, m_displayName);
        readIfChanged(m_edDisplayDescription, m_displayDescription);
        readIfChanged(m_edImageName, m_imageName);
        readIfChanged(m_edImageDescription, m_imageDescription);
        readIfChanged(m_edSystemFlag, m_systemFlag);
        m_capturePath = m_edCapturePath->text();
        m_fullRead = m_chkFullRead->isChecked();
        return;
    }
    m_refreshing = true;
    m_edDisplayName->setText(m_displayName);
    m_edDisplayDescription->setPlainText(m_displayDescription);
    m_edImageName->setText(m_imageName);
    m_edImageDescription->setPlainText(m_imageDescription);
    m_edSystemFlag->setText(m_systemFlag);
    m_edCapturePath->setText(m_capturePath);
    m_chkFullRead->setChecked(m_fullRead);
    m_refreshing = false;
}

void CWIM_Image_Info::showEvent(QShowEvent *event)
{
    if (!m_initialised) {
        m_initialised = true;
        OnInitDialog();
    }
    QDialog::showEvent(event);
}

void CWIM_Image_Info::OnInitDialog()
{
    // Our own refresh: it checks nothing and starts no detection.
    UpdateData(false);
    if (m_editMode) {
        m_lblCapturePath->hide();
        m_edCapturePath->hide();
        m_btnBrowse->hide();
        m_chkFullRead->hide();
    }
}

bool CWIM_Image_Info::isSystemDrive(const QString &path) const
{
    if (path.isEmpty() || m_systemDrive.isEmpty())
        return false;
    if (QDir::cleanPath(path) == QDir::cleanPath(m_systemDrive))
        return true;
    const QString canonical = QFileInfo(path).canonicalFilePath();
    return !canonical.isEmpty() && canonical == QFileInfo(m_systemDrive).canonicalFilePath();
}

void CWIM_Image_Info::showSystemDriveError(const QString &text)
{
    uiThread::messageBox(this, text, QStringLiteral("错误提示"), MB_OK);
    m_capturePath.clear();
    UpdateData(false);
}

void CWIM_Image_Info::OnBrowse()
{
    if (m_detecting || m_pendingClose != PendingClose::None)
        return;
    // Texts typed so far must survive the refresh below.
    UpdateData(true);
    const QString picked = uiThread::pickFolder(this, QStringLiteral("选择目录"));
    if (picked.isEmpty()) {
        m_capturePath.clear();
        UpdateData(false);
        CheckCapturePath();
        return;
    }
    if (isSystemDrive(picked)) {
        showSystemDriveError(QStringLiteral("路径不能是当前系统盘符，请重新选择！"));
        return;
    }
    const QString path = platform::withoutTrailingSeparator(picked);
    if (path == m_capturePath)
        return;
    m_capturePath = path;
    UpdateData(false);
    CheckCapturePath();
}

void CWIM_Image_Info::CheckCapturePath()
{
    if (isSystemDrive(m_capturePath)) {
        showSystemDriveError(QStringLiteral("不允许选择当前系统盘"));
        return;
    }
    // An empty path names no folder: nothing would be captured from it, so
    // there is nothing to detect either.
    if (m_capturePath.isEmpty() || !platform::hasWindowsFolder(m_capturePath))
        return;
    // One detection at a time; its end refreshes the dialog anyway.
    if (m_detecting)
        return;
    startDetection();
}

void CWIM_Image_Info::onCapturePathEdited()
{
    if (m_refreshing || m_pendingClose != PendingClose::None)
        return;
    m_capturePath = m_edCapturePath->text();
    CheckCapturePath();
}

void CWIM_Image_Info::startDetection()
{
    m_detecting = true;
    m_btnBrowse->setEnabled(false);
    m_lblCheckStatus->show();

    const QPointer<CWIM_Image_Info> self(this);
    backgroundTasks::start([self, reader = m_editionReader, path = m_capturePath] {
        EditionValues values;
        try {
            values = reader(path);
        } catch (...) {
            values = {};  // a failed read changes nothing
        }
        // Runs on the UI thread, where the dialog is destroyed too: the
        // check and the use cannot be separated by its destruction.
        uiThread::run([&] {
            if (self)
                self->detectionEnded(values);
        });
    });
}

void CWIM_Image_Info::detectionEnded(const EditionValues &values)
{
    m_detecting = false;
    if (m_pendingClose == PendingClose::Accept) {
        // OK took the texts that were shown when it was pressed.
        m_lblCheckStatus->hide();
        QDialog::accept();
        return;
    }

    // Fields the detection does not fill keep what was typed while it ran.
    UpdateData(true);
    if (values.productNameRead) {
        m_imageDescription = values.productName;
        if (values.editionIdRead) {
            m_systemFlag = values.editionId;
            m_imageName = m_imageDescription;
            m_displayName = m_imageName;
            m_displayDescription = m_displayName;
        }
    }
    UpdateData(false);
    m_btnBrowse->setEnabled(true);
    m_lblCheckStatus->hide();

    if (m_pendingClose == PendingClose::Reject)
        QDialog::reject();
}

void CWIM_Image_Info::OnOK()
{
    if (m_pendingClose != PendingClose::None)
        return;
    UpdateData(true);
    if (!m_detecting) {
        QDialog::accept();
        return;
    }
    m_pendingClose = PendingClose::Accept;
    m_btnOk->setEnabled(false);
    m_btnCancel->setEnabled(false);
    // What is typed now would not be returned any more.
    m_edDisplayName->setReadOnly(true);
    m_edDisplayDescription->setReadOnly(true);
    m_edImageName->setReadOnly(true);
    m_edImageDescription->setReadOnly(true);
    m_edSystemFlag->setReadOnly(true);
    m_chkFullRead->setEnabled(false);
}

void CWIM_Image_Info::OnCancel()
{
    if (m_pendingClose != PendingClose::None)
        return;
    m_btnCancel->setEnabled(false);
    if (!m_detecting) {
        QDialog::reject();
        return;
    }
    m_pendingClose = PendingClose::Reject;
    m_btnOk->setEnabled(false);
}

void CWIM_Image_Info::accept()
{
    OnOK();
}

void CWIM_Image_Info::reject()
{
    OnCancel();
}
