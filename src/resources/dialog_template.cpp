#include "resources/dialog_template.h"

#include "resources/resource_ids.h"

namespace res {

QString controlObjectName(const ControlTemplate &c)
{
    if (c.name)
        return QString::fromLatin1(c.name);
    switch (c.id) {
    case kIdOk: return QStringLiteral("IDOK");
    case kIdCancel: return QStringLiteral("IDCANCEL");
    case kIdStatic: return QStringLiteral("IDC_STATIC");
    default: return QStringLiteral("IDC_%1").arg(c.id);
    }
}

const DialogTemplate &mainWindowTemplate()
{
    using K = ControlKind;
    static const DialogTemplate t{
        IDD_TARNBOX,
        QStringLiteral("Pellwick"),
        9,
        573,
        266,
        {
            {IDC_IMAGE_LIST, "IDC_IMAGE_LIST", K::ListView, {}, 7, 7, 559, 201, true},
            {kIdStatic, nullptr, K::Label, QStringLiteral("压缩等级："), 7, 212, 35, 8, true},
            {IDC_COMPRESSION, nullptr, K::Label, {}, 42, 213, 62, 8, true},
            {kIdStatic, nullptr, K::Label, QStringLiteral("映像数量："), 7, 225, 35, 8, true},
            {IDC_IMAGE_COUNT, nullptr, K::Label, {}, 42, 226, 62, 8, true},
            {kIdStatic, nullptr, K::Label, QStringLiteral("权限等级："), 7, 238, 35, 8, true},
            {IDC_ACCESS, nullptr, K::Label, {}, 42, 237, 118, 8, true},
            {kIdStatic, nullptr, K::Label, QStringLiteral("文件路径："), 165, 213, 35, 8, true},
            {IDC_FILE_PATH, nullptr, K::Label, {}, 200, 213, 174, 8, true},
            {kIdStatic, nullptr, K::Label, QStringLiteral("临时文件："), 165, 226, 35, 8, true},
            {IDC_WORK_DIR, nullptr, K::Label, {}, 200, 226, 174, 8, true},
            {kIdOk, nullptr, K::DefaultButton, QStringLiteral("打开文件"), 107, 223, 50, 14, false},
            {kIdCancel, nullptr, K::PushButton, QStringLiteral("取消"), 105, 213, 50, 14, false},
            {IDC_WORK_DIR_BUTTON, nullptr, K::PushButton, QStringLiteral("临时目录"), 107, 232, 50, 14, false},
            {IDC_BUSY_LABEL, nullptr, K::Label, QStringLiteral("请你等待……正在处理，需要："), 0, 251, 96, 8, false},
            {IDC_REMAINING, nullptr, K::Label, QStringLiteral("Static"), 95, 251, 120, 8, false},
            {IDC_PERCENT, nullptr, K::RightLabel, QStringLiteral("Static"), 541, 251, 25, 8, false},
            {IDC_PROGRESS, nullptr, K::ProgressBar, {}, 0, 259, 573, 6, false},
        }};
    return t;
}

const DialogTemplate &imageInfoTemplate()
{
    using K = ControlKind;
    static const DialogTemplate t{
        IDD_IMAGE_INFO,
        QStringLiteral("映像信息"),
        9,
        320,
        192,
        {
            {kIdOk, nullptr, K::DefaultButton, QStringLiteral("确定"), 209, 171, 50, 14, true},
            {kIdCancel, nullptr, K::PushButton, QStringLiteral("取消"), 263, 171, 50, 14, true},
            {IDC_CAPTURE_PATH_LABEL, "IDC_CAPTURE_PATH_LABEL", K::Label, QStringLiteral("捕获路径："), 7, 153, 35, 8,
             true},
            {IDC_CAPTURE_PATH, "IDC_CAPTURE_PATH", K::ReadOnlyLineEdit, {}, 42, 150, 218, 14, true},
            {IDC_BROWSE_PATH, "IDC_BROWSE_PATH", K::PushButton, QStringLiteral("浏览路径"), 263, 150, 50, 14, true},
            {kIdStatic, nullptr, K::Label, QStringLiteral("显示信息："), 8, 9, 35, 8, true},
            {kIdStatic, nullptr, K::Label, QStringLiteral("显示说明："), 8, 24, 35, 8, true},
            {kIdStatic, nullptr, K::Label, QStringLiteral("映像信息："), 8, 68, 35, 8, true},
            {kIdStatic, nullptr, K::Label, QStringLiteral("映像说明："), 8, 82, 35, 8, true},
            {IDC_DISPLAY_NAME, "IDC_DISPLAY_NAME", K::LineEdit, {}, 42, 7, 271, 14, true},
            {IDC_DISPLAY_DESCRIPTION, "IDC_DISPLAY_DESCRIPTION", K::MultiLineEdit, {}, 42, 24, 271, 38, true},
            {IDC_IMAGE_NAME, "IDC_IMAGE_NAME", K::LineEdit, {}, 42, 65, 271, 14, true},
            {IDC_IMAGE_DESCRIPTION, "IDC_IMAGE_DESCRIPTION", K::MultiLineEdit, {}, 42, 82, 271, 38, true},
            {kIdStatic, nullptr, K::Label, QStringLiteral("系统标识："), 7, 131, 35, 8, true},
            {IDC_SYSTEM_FLAG, "IDC_SYSTEM_FLAG", K::LineEdit, {}, 42, 128, 80, 14, true},
            {IDC_CHECK_STATUS, "IDC_CHECK_STATUS", K::Label, QStringLiteral("正在检查……"), 131, 131, 161, 8, false},
        }};
    return t;
}

const DialogTemplate &outputTemplate()
{
    using K = ControlKind;
    static const DialogTemplate t{
        IDD_OUTPUT,
        QStringLiteral("输出信息"),
        9,
        320,
        200,
        {
            {kIdOk, nullptr, K::DefaultButton, QStringLiteral("确定"), 209, 179, 50, 14, true},
            {kIdCancel, nullptr, K::PushButton, QStringLiteral("取消"), 263, 179, 50, 14, true},
            {kIdStatic, nullptr, K::Label, QStringLiteral("警告：有输出信息时，可能表示映像存在问题"), 7, 14, 138, 8,
             true},
            {IDC_OUTPUT_TEXT, "IDC_OUTPUT_TEXT", K::ReadOnlyMultiLineEdit, {}, 7, 27, 306, 147, true},
        }};
    return t;
}

const DialogTemplate &exclusionTemplate()
{
    using K = ControlKind;
    static const DialogTemplate t{
        IDD_EXCLUSIONS,
        QStringLiteral("捕获排除名单"),
        9,
        305,
        189,
        {
            {kIdOk, nullptr, K::DefaultButton, QStringLiteral("确定"), 248, 168, 50, 14, false},
            {kIdCancel, nullptr, K::PushButton, QStringLiteral("取消"), 172, 168, 50, 14, false},
            {IDC_EXCLUSION_LIST, "IDC_EXCLUSION_LIST", K::ListView, {}, 7, 7, 291, 175, true},
        }};
    return t;
}

}  // namespace res
