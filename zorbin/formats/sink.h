// Where a writer's output goes.
#pragma once

#include <cstddef>

namespace zb {

// Where the records go: called with large blocks; returns false when the write failed
// (errno tells why), which stops the engine.
struct sink {
    void* ctx;
    bool (*write)(void* ctx, const char* data, std::size_t n);
};

}  // namespace zb
