#include "support/prompts.h"

#include <atomic>

namespace {

class UnattendedPrompts : public Prompts
{
public:
    using Prompts::messageBox;
    int messageBox(QObject *, const QString &, const QString &, uint32_t type) override { return defaultAnswer(type); }
    QString pickFolder(QObject *, const QString &) override { return {}; }
    QString openFile(QObject *, const FileChooser &) override { return {}; }
    QString saveFile(QObject *, const FileChooser &) override { return {}; }
    int execDialog(QDialog &) override { return 0; }
};

std::atomic<Prompts *> g_prompts{nullptr};

}  // namespace

Prompts &prompts()
{
    if (Prompts *p = g_prompts.load(std::memory_order_acquire))
        return *p;
    static UnattendedPrompts unattended;
    return unattended;
}

void setPrompts(Prompts *p)
{
    g_prompts.store(p, std::memory_order_release);
}

int defaultAnswer(uint32_t type)
{
    return (type & MB_TYPEMASK) == MB_OK ? IDOK : IDCANCEL;
}
