// Hex record engine throughput: 64 MiB of random bytes into memory, every format, MB/s of input.
//   zorbin_engine_bench [ROUNDS [RECLEN]]
// With RECLEN, the formats that take -reclen write records of that many bytes (the engine's
// path for a length not known when compiled); the others are left out.
#include "write/engine.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

namespace {

// Base and size that a format's address limit allows: 64 MiB for the 32-bit formats; the
// narrow ones convert their whole address range repeatedly until 64 MiB have gone through.
struct run_shape {
    std::uint32_t base;
    std::size_t size;
};

run_shape shape(zb::fmt format, std::size_t total)
{
    const std::uint32_t limit = zb::format_limit(format);
    if (limit == 0xFFFFFFFF)
        return {0x08000000, total};
    return {0, limit};  // base + size must stay at or below the limit
}

double seconds_since(std::chrono::steady_clock::time_point t0)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

}  // namespace

int main(int argc, char** argv)
{
    const std::size_t total = std::size_t{64} << 20;
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 3;
    const zb::record_layout layout{argc > 2 ? static_cast<std::size_t>(std::atoi(argv[2])) : 0, {}};
    std::vector<unsigned char> data(total);
    std::mt19937_64 rng(42);
    for (auto& b : data)
        b = static_cast<unsigned char>(rng() >> 56);

    std::string out(total * 4, '\0');  // the sink's memory, touched once outside the timing
    std::printf("%-11s %10s %10s\n", "format", "MB/s", "out MB");
    for (const zb::fmt f : zb::hex_formats) {
        if (!zb::layout_fits(zb::formats[f], layout))
            continue;
        const run_shape s = shape(f, total);
        double best = 1e9;
        for (int r = 0; r < rounds; ++r) {
            std::size_t done = 0;
            out.clear();  // every round's output stays in memory, as one file's would
            const auto t0 = std::chrono::steady_clock::now();
            while (done < total) {
                const std::size_t n = std::min(s.size, total - done);
                const zb::block b{s.base, {{data.data() + done, n}}};
                const auto res = zb::write_image({&b, 1}, f, "bench.bin", zb::string_sink(out),
                                                 {}, {}, {}, layout);
                if (res != zb::hex_result::ok) {
                    std::fprintf(stderr, "%s: engine failed\n", zb::formats[f].word.data());
                    return 1;
                }
                done += n;
            }
            best = std::min(best, seconds_since(t0));
        }
        std::printf("%-11s %10.0f %10.1f\n", zb::formats[f].word.data(), total / best / 1e6, out.size() / 1e6);
    }
    return 0;
}
