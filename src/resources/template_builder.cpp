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

QList<QRect> fitTextsInRows(const QList<QRect> &rects, const QList<int> &textWidths, const QList<bool> &visible,
                            int dialogWidth)
{
    // Between a label's text and what follows it on its row.
    constexpr int kGap = 3;
    const qsizetype n = rects.size();
    QList<QRect> fitted = rects;
    QHash<int, int> shiftAtLeft;  // a neighbour's left edge -> how far it moves right
    for (qsizetype i = 0; i < n; ++i) {
        if (textWidths[i] <= 0)
            continue;
        const QRect &label = rects[i];
        qsizetype next = -1;
        for (qsizetype j = 0; j < n; ++j) {
            const QRect &r = rects[j];
            const bool sameRow = r.top() < label.bottom() && label.top() < r.bottom();
            if (j != i && visible[j] == visible[i] && sameRow && r.left() > label.left()
                && (next < 0 || r.left() < rects[next].left()))
                next = j;
        }
        const int textRight = label.left() + textWidths[i];
        if (next >= 0 && textRight + kGap > rects[next].left()) {
            const int left = rects[next].left();
            shiftAtLeft[left] = std::max(shiftAtLeft.value(left), textRight + kGap - left);
        }
        const int limit = next >= 0 ? rects[next].left() + shiftAtLeft.value(rects[next].left()) - kGap : dialogWidth;
        fitted[i].setWidth(std::max(label.width(), std::min(textWidths[i] + 1, limit - label.left())));
    }
    // A column of controls moves as one, so that the fields below each other stay aligned.
    for (qsizetype j = 0; j < n; ++j) {
        const int shift = shiftAtLeft.value(rects[j].left());
        if (shift > 0)
            fitted[j].setLeft(fitted[j].left() + shift);
    }
    return fitted;
}

QHash<int, QWidget *> buildDialogFromTemplate(QDialog *dialog, const res::DialogTemplate &t)
{
    const QFont font = DialogUnits::dialogFont(t.pointSize);
    dialog->setFont(font);
    dialog->setWindowTitle(t.caption);
    const DialogUnits du(font);
    dialog->setFixedSize(du.toPixels(t.width, t.height));

    // The template's rectangles, except where a font's metrics (a CJK font's
    // own Latin letters make the units narrow) leave a label's text no room.
    QList<QRect> rects;
    QList<int> textWidths;
    QList<bool> visible;
    const QFontMetrics fm(font);
    for (const auto &c : t.controls) {
        rects << du.toPixels(c.x, c.y, c.w, c.h);
        const bool leftLabel = c.kind == res::ControlKind::Label && !c.text.isEmpty();
        textWidths << (leftLabel ? fm.horizontalAdvance(c.text) : 0);
        visible << c.visible;
    }
    rects = fitTextsInRows(rects, textWidths, visible, dialog->width());

    QHash<int, QWidget *> controls;
    for (qsizetype i = 0; i < t.controls.size(); ++i) {
        const auto &c = t.controls[i];
        QWidget *w = makeControl(dialog, c);
        w->setObjectName(res::controlObjectName(c));
        w->setProperty("controlId", c.id);
        w->setGeometry(rects[i]);
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
