#pragma once

#include "imaging/mount_records.h"
#include "operations/lasting_operation.h"
#include "operations/operation.h"

#include <QStringList>

// pellwick-wim, which serves a mount from a process of its own: $PELLWICK_WIM_TOOL,
// else beside the program, else on PATH.
QString mountToolPath();
// The tool's arguments for a mount of `record`.
QStringList mountToolArguments(const MountRecord &record);

// An image the program mounted (or found mounted by an earlier run), kept by
// the runner until it is unmounted. A read-write mount holds the archive
// against every change (its serving process holds the archive's lock); a
// read-only one only against a replacement of the file it reads.
class MountedImage : public LastingOperation
{
public:
    explicit MountedImage(MountRecord record) : m_record(std::move(record)) {}

    const MountRecord &record() const { return m_record; }
    QString archive() const override { return m_record.archive; }
    bool holdsAgainst(ArchiveEffect effect) const override;
    bool hasChanges() const override { return m_record.readWrite; }
    QString description() const override;
    std::unique_ptr<Operation> ending(Ending how) override;

private:
    const MountRecord m_record;
};

// Mounts an image by starting pellwick-wim mount and waiting until the mount
// is up (the tool's serving process goes on alone); then the runner keeps it
// and its folder is shown. A failure shows the tool's cause; nothing is kept.
class MountOperation : public Operation
{
public:
    explicit MountOperation(MountRecord record) : m_record(std::move(record)) {}
    void run(OperationContext &ctx) override;

private:
    const MountRecord m_record;
};

// Unmounts, committing the changes or dropping them, as a long operation
// with progress. Files still open in the mount keep it mounted: the user is
// asked to close them and try again, or to leave it for now.
class UnmountOperation : public LongOperation
{
public:
    UnmountOperation(const MountedImage &mount, bool commit);

protected:
    void registrationFailed(OperationContext &ctx) override;
    bool work(OperationContext &ctx) override;

private:
    void forgetMount(OperationContext &ctx);

    const MountedImage &m_mount;  // kept alive by the runner until forgotten here
    const bool m_commit;
};
