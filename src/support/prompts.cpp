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
std::atomic<bool> g_unattended{false};

}  // namespace

Prompts &prompts()
{
    static UnattendedPrompts unattended;
    if (g_unattended.load(std::memory_order_acquire))
        return unattended;
    if (Prompts *p = g_prompts.load(std::memory_order_acquire))
        return *p;
    return unattended;
}

void setPromptsUnattended(bool value)
{
    g_unattended.store(value, std::memory_order_release);
}

void setPrompts(Prompts *p)
{
    g_prompts.store(p, std::memory_order_release);
}

int defaultAnswer(uint32_t type)
{
    switch (type & MB_TYPEMASK) {
    case MB_OK: return IDOK;
    case MB_YESNO: return IDNO;
    default: return IDCANCEL;
    }
}
