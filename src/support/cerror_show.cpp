#include "support/cerror_show.h"

#include "resources/resource_ids.h"
#include "resources/template_builder.h"

#include <QEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>

CErrorShow::CErrorShow(QWidget *parent) : QDialog(parent)
{
    const auto controls = buildDialogFromTemplate(this, res::outputTemplate());
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    m_edit = qobject_cast<QPlainTextEdit *>(controls.value(res::IDC_OUTPUT_TEXT));
    m_edit->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_edit->installEventFilter(this);
    if (auto *ok = qobject_cast<QPushButton *>(controls.value(res::kIdOk)))
        connect(ok, &QPushButton::clicked, this, [this] {
            UpdateData(true);
            accept();
        });
    if (auto *cancel = qobject_cast<QPushButton *>(controls.value(res::kIdCancel)))
        connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

void CErrorShow::UpdateData(bool saveAndValidate)
{
    if (saveAndValidate)
        m_strText = m_edit->toPlainText();
    else
        m_edit->setPlainText(QString(m_strText).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
}

void CErrorShow::showEvent(QShowEvent *event)
{
    UpdateData(false);
    // The warning keeps its place but never cuts its own text: a font wider
    // than the template's (the fallback for Chinese varies) widens it, the
    // dialog has room to its right.
    for (QLabel *label : findChildren<QLabel *>()) {
        const int needed = label->sizeHint().width();
        if (label->width() < needed)
            label->resize(qMin(needed, width() - label->x()), label->height());
    }
    QDialog::showEvent(event);
}

bool CErrorShow::eventFilter(QObject *watched, QEvent *event)
{
    // A read-only edit that lets the user select still takes an input
    // method's committed text (Chinese typing) into its document.
    if (watched == m_edit && event->type() == QEvent::InputMethod)
        return true;
    return QDialog::eventFilter(watched, event);
}
