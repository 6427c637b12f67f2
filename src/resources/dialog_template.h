#pragma once

#include <QString>
#include <QVector>

// Dialog templates as data: every control with its id, kind, text, rectangle in
// dialog units and visibility. The widget layer builds dialogs from these.
namespace res {

enum class ControlKind {
    ListView,    // report-mode list
    Label,       // static text
    RightLabel,  // right-aligned static text
    PushButton,
    DefaultButton,
    ProgressBar,
    LineEdit,  // single-line edit, auto horizontal scroll
    ReadOnlyLineEdit,
    MultiLineEdit,
    ReadOnlyMultiLineEdit,
};

struct ControlTemplate {
    int id;            // kIdStatic for labels without an id
    const char *name;  // objectName; nullptr: derived from the id
    ControlKind kind;
    QString text;
    int x, y, w, h;  // dialog units
    bool visible;
};

struct DialogTemplate {
    int id;
    QString caption;
    int pointSize;
    int width, height;  // dialog units
    QVector<ControlTemplate> controls;
};

// objectName of a control: its name, or IDOK / IDCANCEL / IDC_STATIC / IDC_<number>.
QString controlObjectName(const ControlTemplate &c);

const DialogTemplate &mainWindowTemplate();  // 102
const DialogTemplate &imageInfoTemplate();   // 103
const DialogTemplate &outputTemplate();      // 104
const DialogTemplate &exclusionTemplate();   // 105

}  // namespace res
