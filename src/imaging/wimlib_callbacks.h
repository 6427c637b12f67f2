#pragma once

#include "imaging/wim_types.h"

#include <memory>
#include <mutex>
#include <vector>

// The registered message callbacks of one backend. Registration and removal
// may happen on any thread; a running call keeps the list it started with.
class WimlibCallbacks
{
public:
    struct Entry {
        WIMMessageCallback callback;
        void *userData;
    };
    using List = std::vector<Entry>;

    // The callback's index; registering it again only replaces its user data.
    uint32_t add(WIMMessageCallback callback, void *userData);
    // False when the callback is not registered. Null removes every callback.
    bool remove(WIMMessageCallback callback);
    std::shared_ptr<const List> current() const;

private:
    mutable std::mutex m_mutex;
    std::shared_ptr<const List> m_list = std::make_shared<const List>();
};
