#include "support/error_cause.h"

#include <cerrno>
#include <system_error>

namespace {

// One wording per cause, whether it comes from the library's kind or from
// the system's error number.
const char16_t kNotFound[] = u"文件或文件夹不存在";
const char16_t kAccessDenied[] = u"没有访问权限";
const char16_t kReadOnly[] = u"文件系统是只读的";
const char16_t kNoSpace[] = u"磁盘空间不足";
const char16_t kPathTooLong[] = u"路径或名称过长";
const char16_t kUnsupported[] = u"不支持此操作";

QString text(const char16_t *s)
{
    return QString::fromUtf16(s);
}

// The common error numbers in our own words; null for the rest.
const char16_t *chineseSystemText(int errorNumber)
{
    switch (errorNumber) {
    case ENOENT: return kNotFound;
    case EACCES: return kAccessDenied;
    case EPERM: return u"不允许此操作";
    case EROFS: return kReadOnly;
    case ENOSPC: return kNoSpace;
    case EDQUOT: return u"超出磁盘配额";
    case EFBIG: return u"文件过大";
    case EIO: return u"读写设备时出错";
    case ENAMETOOLONG: return kPathTooLong;
    case EEXIST: return u"文件已存在";
    case ENOTDIR: return u"路径中有一项不是文件夹";
    case EISDIR: return u"这是一个文件夹";
    case ENOTEMPTY: return u"文件夹不是空的";
    case EBUSY: return u"设备或资源正忙";
    case ETXTBSY: return u"文件正被程序运行，不能写入";
    case EINVAL: return u"参数无效";
    case ENOMEM: return u"内存不足";
    case EMFILE: return u"打开的文件过多";
    case ENFILE: return u"系统中打开的文件过多";
    case EXDEV: return u"不能跨文件系统移动";
    case ELOOP: return u"符号链接层数过多";
    case EOPNOTSUPP: return kUnsupported;
    case ENODEV:
    case ENXIO: return u"设备不存在";
    case EAGAIN: return u"资源暂时不可用，请稍后再试";
    case EINTR: return u"操作被中断";
    case ESTALE: return u"网络文件已失效";
    default: return nullptr;
    }
}

}  // namespace

QString systemErrorText(int errorNumber)
{
    if (errorNumber <= 0)
        return {};
    if (const char16_t *own = chineseSystemText(errorNumber))
        return text(own);
    // generic_category() words it through strerror_r: safe on any thread.
    return QString::fromStdString(std::generic_category().message(errorNumber));
}

QString errorCause(const ImagingError &error)
{
    using Kind = ImagingError::Kind;
    switch (error.kind) {
    case Kind::NotFound: return text(kNotFound);
    case Kind::AccessDenied: return text(kAccessDenied);
    case Kind::ReadOnlyFileSystem: return text(kReadOnly);
    case Kind::NoSpace: return text(kNoSpace);
    case Kind::NotAnArchive: return QStringLiteral("这不是 WIM 映像文件");
    case Kind::DamagedHeader: return QStringLiteral("映像文件头已损坏");
    case Kind::DamagedData: return QStringLiteral("映像数据已损坏（校验不符或无法解压）");
    case Kind::NameInUse: return QStringLiteral("已有同名的映像");
    case Kind::PathTooLong: return text(kPathTooLong);
    case Kind::WouldOverwriteArchive: return QStringLiteral("会覆盖正在读取的映像文件");
    case Kind::ArchiveReadOnly: return QStringLiteral("映像文件是以只读方式打开的，不能写入");
    case Kind::Busy: return QStringLiteral("映像文件正被另一项操作使用");
    case Kind::InUseElsewhere: return QStringLiteral("映像文件正被另一个程序使用，请稍后再试");
    case Kind::ChangedOnDisk: return QStringLiteral("映像文件已被其他程序修改，列表已重新读取，请重新选择");
    case Kind::Aborted: return QStringLiteral("操作已被用户中止");
    case Kind::Unsupported: return text(kUnsupported);
    case Kind::None:
    case Kind::Other: break;
    }
    if (const char16_t *own = chineseSystemText(error.systemError))
        return text(own);
    if (!error.text.isEmpty())
        return error.text;
    return systemErrorText(error.systemError);
}

QString withSystemErrorText(const QString &logLine, int errorNumber)
{
    const QString description = systemErrorText(errorNumber);
    return description.isEmpty() ? logLine : logLine + QLatin1Char(' ') + description;
}

ImagingError mostTellingFailure(const QList<ImagingError> &attempts)
{
    using Kind = ImagingError::Kind;
    for (const ImagingError &attempt : attempts) {
        if (attempt.kind != Kind::AccessDenied && attempt.kind != Kind::ReadOnlyFileSystem)
            return attempt;
    }
    return attempts.isEmpty() ? ImagingError() : attempts.first();
}
