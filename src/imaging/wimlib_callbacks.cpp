#include "imaging/wimlib_callbacks.h"

#include <algorithm>

uint32_t WimlibCallbacks::add(WIMMessageCallback callback, void *userData)
{
    std::lock_guard lock(m_mutex);
    auto list = std::make_shared<List>(*m_list);
    for (size_t i = 0; i < list->size(); ++i) {
        if ((*list)[i].callback == callback) {
            (*list)[i].userData = userData;
            m_list = std::move(list);
            return uint32_t(i);
        }
    }
    list->push_back({callback, userData});
    const auto index = uint32_t(list->size() - 1);
    m_list = std::move(list);
    return index;
}

bool WimlibCallbacks::remove(WIMMessageCallback callback)
{
    std::lock_guard lock(m_mutex);
    if (!callback) {
        m_list = std::make_shared<const List>();
        return true;
    }
    auto list = std::make_shared<List>(*m_list);
    const auto it = std::find_if(list->begin(), list->end(), [&](const Entry &e) { return e.callback == callback; });
    if (it == list->end())
        return false;
    list->erase(it);
    m_list = std::move(list);
    return true;
}

std::shared_ptr<const WimlibCallbacks::List> WimlibCallbacks::current() const
{
    std::lock_guard lock(m_mutex);
    return m_list;
}
