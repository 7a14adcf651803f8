// Checksum throughput: 64 MiB of random bytes in memory through each family of -crc's kinds,
// by the fastest path this processor has and by the tables or portable code; MB/s of the
// process's own processor time (so that other work on a shared machine counts less), best of
// the rounds.
#include "image/sum.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <random>
#include <vector>

namespace {

struct bench_row {
    const char* what;
    const char* kind;     // as -crc takes it
    bool slow_path;       // the tables (CRC) or the portable code (SHA-256), not the processor's
};

constexpr bench_row rows[] = {
    {"crc32, CRC-32 folded by carry-less multiplication", "crc32", false},
    {"crc32 by the tables", "crc32", true},
    {"crc32c, SSE4.2 crc32 instruction", "crc32c", false},
    {"crc32c by the tables", "crc32c", true},
    {"crc32-mpeg2 (not reflected)", "crc32-mpeg2", false},
    {"stm32 (fed words)", "stm32", false},
    {"crc16-xmodem", "crc16-xmodem", false},
    {"crc16-modbus (reflected)", "crc16-modbus", false},
    {"crc8", "crc8", false},
    {"crc64-xz (reflected)", "crc64-xz", false},
    {"crc64-ecma-182", "crc64-ecma-182", false},
    {"crc:5 (CRC-5/USB, reflected)", "crc:5:0x05:0x1F:true:true:0x1F", false},
    {"crc:24 (CRC-24/OPENPGP)", "crc:24:0x864CFB:0xB704CE:false:false:0", false},
    {"crc:12, refin unlike refout", "crc:12:0x80F:0:false:true:0", false},
    {"sum32", "sum32", false},
    {"sha256, SHA extensions", "sha256", false},
    {"sha256, portable", "sha256", true},
};

double seconds_since(std::clock_t t0)
{
    return static_cast<double>(std::clock() - t0) / CLOCKS_PER_SEC;
}

// The value, so that the work is not optimised away, and printed for a check by hand.
std::uint64_t run(const bench_row& row, std::span<const unsigned char> d)
{
    const zb::checksum_kind k = zb::parse_kind(row.kind).kind;
    if (k.fam == zb::family::crc && row.slow_path) {
        zb::crc_state s = zb::crc_start(k.crc, k.words);
        zb::crc_add(s, d, zb::crc_path::table);
        return zb::crc_final(s);
    }
    if (k.fam == zb::family::sha256 && row.slow_path) {
        zb::sha256_state s;
        zb::sha256_add(s, d, zb::sha_path::portable);
        return zb::sha256_final(s)[0];
    }
    zb::checksum_state s = zb::checksum_start(k);
    zb::checksum_add(s, d);
    const zb::checksum_value v = zb::checksum_final(s);
    return k.fam == zb::family::sha256 ? v.field[0] : v.number;
}

}  // namespace

int main(int argc, char** argv)
{
    const std::size_t total = std::size_t{64} << 20;
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 3;
    std::vector<unsigned char> data(total);
    std::mt19937_64 rng(42);
    for (auto& b : data)
        b = static_cast<unsigned char>(rng() >> 56);

    auto fast = [](const char* kind) {
        return zb::accel_for(zb::parse_kind(kind).kind.crc, false) != zb::crc_accel::none;
    };
    std::printf("processor: crc32 %s, crc32c %s, sha256 %s\n", fast("crc32") ? "folded" : "tables",
                fast("crc32c") ? "sse4.2" : "tables", zb::sha_hardware() ? "sha extensions" : "portable");
    std::printf("%-52s %8s  %s\n", "kind", "MB/s", "value");
    for (const bench_row& row : rows) {
        double best = 1e9;
        std::uint64_t v = 0;
        for (int r = 0; r < rounds; ++r) {
            const std::clock_t t0 = std::clock();
            v = run(row, data);
            best = std::min(best, seconds_since(t0));
        }
        std::printf("%-52s %8.0f  %llx\n", row.what, total / best / 1e6,
                    static_cast<unsigned long long>(v));
    }
    return 0;
}
