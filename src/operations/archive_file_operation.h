#pragma once

#include "imaging/wim_types.h"
#include "operations/operation.h"

#include <QString>

// What split, verify and optimize share: a long operation on the open
// archive's file as a whole, run like an export (busy first, the log emptied
// and shown at the end, a refused unregistration reported) with messages of
// the same kind. The handle stays the window's.
class ArchiveFileOperation : public LongOperation
{
protected:
    explicit ArchiveFileOperation(HWIM wim);

    void registrationFailed(OperationContext &ctx) override;

    // The archive's attributes; false after "无法正常获取文件信息！".
    bool readAttributes(OperationContext &ctx, WIM_INFO *info) const;
    // The message of a failed call, with the cause the library gave on this
    // thread beneath it.
    static void reportFailure(OperationContext &ctx, const QString &text);

    HWIM m_wim;
};
