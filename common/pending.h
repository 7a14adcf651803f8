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
    // A path relative to the directory open on dir, or, with dir at -1, a path of its own.
    struct slot {
        int dir;
        Char path[N];
        volatile std::sig_atomic_t live;
    };
    // A run whose outputs go in place together holds a temporary file for each of them.
    slot slots[16];

    // A path too long for a slot, or one past the last slot, goes unremembered.
    void watch(std::basic_string_view<Char> path, int dir = -1)
    {
        for (auto& s : slots) {
            if (!s.live && path.size() < N) {
                std::copy(path.begin(), path.end(), s.path);
                s.path[path.size()] = Char{};
                s.dir = dir;
                s.live = 1;
                return;
            }
        }
    }

    void unwatch(std::basic_string_view<Char> path, int dir = -1)
    {
        for (auto& s : slots)
            if (s.live && s.dir == dir && path == s.path)
                s.live = 0;
    }

    // Calls remove(dir, path) on every path remembered; safe in the handler.
    template <class Remove>
    void remove_all(Remove remove)
    {
        for (auto& s : slots)
            if (s.live)
                remove(s.dir, s.path);
    }
};

}  // namespace fw
