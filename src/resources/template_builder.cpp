#include "resources/template_builder.h"

#include "resources/dialog_units.h"
#include "resources/resource_ids.h"

#include <QDialog>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>

namespace {

QWidget *makeControl(QDialog *dialog, const res::ControlTemplate &c)
{
    using K = res::ControlKind;
    switch (c.kind) {
    case K::ListView: {
        auto *list = new QTableWidget(dialog);
        list->setShowGrid(true);
        list->setSelectionBehavior(QAbstractItemView::SelectRows);
        list->setSelectionMode(QAbstractItemView::ExtendedSelection);
        list->setEditTriggers(QAbstractItemView::NoEditTriggers);
        list->setSortingEnabled(false);
        list->setWordWrap(false);
        list->verticalHeader()->setVisible(false);
        list->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        list->horizontalHeader()->setHighlightSections(false);
        list->horizontalHeader()->setStretchLastSection(false);
        list->verticalHeader()->setDefaultSectionSize(list->fontMetrics().height() + 4);
        list->setContextMenuPolicy(Qt::CustomContextMenu);
        return list;
    }
    case K::Label:
    case K::RightLabel: {
        auto *label = new QLabel(c.text, dialog);
        label->setAlignment((c.kind == K::RightLabel ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignTop);
        label->setTextFormat(Qt::PlainText);
        return label;
    }
    case K::PushButton:
    case K::DefaultButton: {
        auto *button = new QPushButton(c.text, dialog);
        button->setAutoDefault(false);
        button->setDefault(c.kind == K::DefaultButton);
        return button;
    }
    case K::ProgressBar: {
        auto *bar = new QProgressBar(dialog);
        bar->setRange(0, 100);
        bar->setValue(0);
        bar->setTextVisible(false);
        return bar;
    }
    case K::LineEdit:
    case K::ReadOnlyLineEdit: {
        auto *edit = new QLineEdit(c.text, dialog);
        edit->setReadOnly(c.kind == K::ReadOnlyLineEdit);
        return edit;
    }
    case K::MultiLineEdit:
    case K::ReadOnlyMultiLineEdit: {
        auto *edit = new QPlainTextEdit(c.text, dialog);
        edit->setReadOnly(c.kind == K::ReadOnlyMultiLineEdit);
        edit->setTabChangesFocus(true);
        if (c.kind == K::ReadOnlyMultiLineEdit)
            edit->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
        return edit;
    }
    }
    return nullptr;
}

}  // namespace

QHash<int, QWidget *> buildDialogFromTemplate(QDialog *dialog, const res::DialogTemplate &t)
{
    const QFont font = DialogUnits::dialogFont(t.pointSize);
    dialog->setFont(font);
    dialog->setWindowTitle(t.caption);
    const DialogUnits du(font);
    dialog->setFixedSize(du.toPixels(t.width, t.height));

    QHash<int, QWidget *> controls;
    for (const auto &c : t.controls) {
        QWidget *w = makeControl(dialog, c);
        w->setObjectName(res::controlObjectName(c));
        w->setProperty("controlId", c.id);
        w->setGeometry(du.toPixels(c.x, c.y, c.w, c.h));
        w->setVisible(c.visible);
        if (!c.visible)
            w->hide();
        if (c.id != res::kIdStatic)
            controls.insert(c.id, w);
    }
    return controls;
}

QWidget *findControl(const QWidget *dialog, int id)
{
    const auto children = dialog->findChildren<QWidget *>();
    for (QWidget *w : children) {
        const QVariant v = w->property("controlId");
        if (v.isValid() && v.toInt() == id)
            return w;
    }
    return nullptr;
}
