#include "interface/handle_registry.h"

#include <algorithm>

namespace qorvex {

namespace {

struct Registry {
    std::mutex lock;
    std::vector<std::shared_ptr<ImageHandle>> handles;  // in the order of opening
};

// Handles still open when the library unloads are destroyed with it.
Registry &TheRegistry() {
    static Registry registry;
    return registry;
}

std::shared_ptr<ImageHandle> Find(QorvexHandle h) {
    if (!h) return nullptr;
    Registry &registry = TheRegistry();
    std::lock_guard<std::mutex> guard(registry.lock);
    for (const auto &handle : registry.handles)
        if (handle.get() == h) return handle;
    return nullptr;
}

}  // namespace

HeldHandle::HeldHandle(QorvexHandle h) : handle_(Find(h)) {
    if (handle_) lock_ = std::unique_lock<std::recursive_mutex>(handle_->lock);
}

QorvexHandle RegisterHandle(std::shared_ptr<ImageHandle> handle) {
    Registry &registry = TheRegistry();
    std::lock_guard<std::mutex> guard(registry.lock);
    registry.handles.push_back(std::move(handle));
    return registry.handles.back().get();
}

void UnregisterHandle(QorvexHandle h) {
    std::shared_ptr<ImageHandle> closing;  // destroyed outside the registry's lock (a call still running keeps it)
    {
        Registry &registry = TheRegistry();
        std::lock_guard<std::mutex> guard(registry.lock);
        auto it =
            std::find_if(registry.handles.begin(), registry.handles.end(), [h](const auto &p) { return p.get() == h; });
        if (it == registry.handles.end()) return;
        closing = std::move(*it);
        registry.handles.erase(it);
    }
}

}  // namespace qorvex
