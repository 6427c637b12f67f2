#pragma once

#include "capture_settings/edition_detection.h"

#include <QDialog>
#include <QString>
#include <functional>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

// The image information dialog (template 103): an image's five texts and, when
// capturing, the folder to capture.
//
// When the chosen folder holds a Windows installation, the dialog reads its
// edition in a background job while it stays usable. The job never touches
// the dialog: its result comes back through the UI thread, and only while the
// dialog still exists. Cancel during a detection waits for its end (the UI
// keeps running) and then closes; OK during a detection takes the texts shown
// at that moment, waits for the end as well and drops the job's result.
class CWIM_Image_Info : public QDialog
{
    Q_OBJECT

public:
    explicit CWIM_Image_Info(QWidget *parent = nullptr);

    QString m_displayName;
    QString m_displayDescription;
    QString m_imageName;
    QString m_imageDescription;
    QString m_systemFlag;
    QString m_capturePath;
    QString m_systemDrive;    // root of the running system's drive (capture mode)
    bool m_fullRead = false;  // capture mode: read every file, none taken as unchanged
    bool m_editMode = false;

    // How the job reads the edition of a capture path; runs on a worker
    // thread. Replaceable so that tests can hold a detection open.
    std::function<EditionValues(const QString &capturePath)> m_editionReader = DetectEdition;

    // Data exchange: save = true reads the controls into the members, false
    // refreshes the controls from the members (1002, 1013, 1003, 1014, 1015, 1001,
    // and the full-read box).
    // Reading takes only the text boxes the user changed since the last
    // refresh; the others keep their member exactly as it was.
    void UpdateData(bool save);

    // Handlers, public so that tests can drive them.
    void OnBrowse();
    void CheckCapturePath();
    void OnOK();
    void OnCancel();

    // A detection job has started and its end has not reached the dialog yet.
    bool IsDetecting() const { return m_detecting; }

protected:
    void showEvent(QShowEvent *event) override;
    void accept() override;
    void reject() override;

private:
    enum class PendingClose { None, Accept, Reject };

    void OnInitDialog();
    void onCapturePathEdited();
    void startDetection();
    void detectionEnded(const EditionValues &values);
    bool isSystemDrive(const QString &path) const;
    void showSystemDriveError(const QString &text);

    QLineEdit *m_edDisplayName = nullptr;
    QPlainTextEdit *m_edDisplayDescription = nullptr;
    QLineEdit *m_edImageName = nullptr;
    QPlainTextEdit *m_edImageDescription = nullptr;
    QLineEdit *m_edSystemFlag = nullptr;
    QLineEdit *m_edCapturePath = nullptr;
    QLabel *m_lblCapturePath = nullptr;
    QLabel *m_lblCheckStatus = nullptr;
    QCheckBox *m_chkFullRead = nullptr;
    QPushButton *m_btnBrowse = nullptr;
    QPushButton *m_btnOk = nullptr;
    QPushButton *m_btnCancel = nullptr;

    bool m_initialised = false;
    bool m_refreshing = false;  // our own refresh is writing the controls
    bool m_detecting = false;
    PendingClose m_pendingClose = PendingClose::None;
};
