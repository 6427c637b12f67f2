#pragma once

#include <QDialog>
#include <QString>

// The image information dialog (template 103): an image's five texts and, when
// capturing, the folder to capture.
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
    QString m_systemDrive;  // root of the running system's drive (capture mode)
    bool m_editMode = false;
};
