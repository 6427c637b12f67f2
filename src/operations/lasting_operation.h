#pragma once

#include <QString>
#include <memory>

class Operation;

// What a command does to the open archive's file, as far as something that
// stays running on that archive (a mounted image) is concerned.
enum class ArchiveEffect {
    None,      // reads, or acts elsewhere
    Changes,   // writes into the archive (an image, its texts, the boot image)
    Replaces,  // a new file takes the archive's place
};

// What an operation leaves running after its run has ended: a mounted image,
// served by a process of its own. The window's runner keeps it (see
// OperationRunner::keep) until an operation ends it; while it is kept,
// commands on its archive that it holds against are refused, and the
// window's close asks what becomes of it. Threads: any; the implementation
// keeps nothing that changes after it is made.
class LastingOperation
{
public:
    enum class Ending {
        Commit,   // its changes go into the archive
        Discard,  // its changes are dropped
    };

    virtual ~LastingOperation() = default;

    // The canonical path of the archive it holds.
    virtual QString archive() const = 0;
    // Whether a command with this effect on that archive must wait for its end.
    virtual bool holdsAgainst(ArchiveEffect effect) const = 0;
    // Whether it has changes that Commit would keep (else both endings are one).
    virtual bool hasChanges() const = 0;
    // One line for the user: what it is and where.
    virtual QString description() const = 0;
    // The long operation that ends it as chosen, run by the runner like any
    // other; it tells the runner to forget this one once it has ended.
    virtual std::unique_ptr<Operation> ending(Ending how) = 0;
};
