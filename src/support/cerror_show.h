#pragma once

#include <QDialog>
#include <QString>

class QPlainTextEdit;

// The output dialog (template 104): a fixed warning line above a read-only,
// selectable block of text. OK and Cancel both close it.
class CErrorShow : public QDialog
{
    Q_OBJECT

public:
    explicit CErrorShow(QWidget *parent = nullptr);

    QString m_strText;  // the text to show

    // false: member to control; true: control to member.
    void UpdateData(bool saveAndValidate);

protected:
    void showEvent(QShowEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QPlainTextEdit *m_edit = nullptr;
};
