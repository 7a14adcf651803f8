// Temporary files that an interrupt must remove before the process ends. Plain fixed storage:
// a signal handler (or a console control handler's thread) may only read it, never allocate.
#pragma once

#include <algorithm>
#include <csignal>
#include <cstddef>
#include <string_view>

namespace fw {

template <class Char, std::size_t N>
struct pending_files {
    struct slot {
        Char path[N];
        volatile std::sig_atomic_t live;
    };
    slot slots[4];

    // A path too long for a slot, or one past the fourth, goes unremembered.
    void watch(std::basic_string_view<Char> path)
    {
        for (auto& s : slots) {
            if (!s.live && path.size() < N) {
                std::copy(path.begin(), path.end(), s.path);
                s.path[path.size()] = Char{};
                s.live = 1;
                return;
            }
        }
    }

    void unwatch(std::basic_string_view<Char> path)
    {
        for (auto& s : slots)
            if (s.live && path == s.path)
                s.live = 0;
    }

    // Calls remove on every path remembered; safe in the handler.
    template <class Remove>
    void remove_all(Remove remove)
    {
        for (auto& s : slots)
            if (s.live)
                remove(s.path);
    }
};

}  // namespace fw
