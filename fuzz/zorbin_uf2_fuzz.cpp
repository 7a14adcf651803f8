// zorbin's UF2 reader on arbitrary blocks. Byte 0 says what the harness does before reading:
// bit 0 stamps the three magic numbers into every block, so that mutations reach the checks
// behind them; bit 1 asks for a family (the word that follows). A read either fails with a
// block inside the file (or one past its last) and a message, or gives parts that are sorted,
// apart, inside the image's own buffer, and no more than the blocks taken could carry.
// Written again as UF2 and read back, every byte lies where it lay.
#include <cstdint>
#include <cstring>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "check.h"
#include "formats/uf2.h"
#include "read/uf2.h"
#include "write/engine.h"

namespace {

void stamp(std::vector<unsigned char>& file)
{
    auto put = [&](std::size_t at, std::uint32_t v) {
        for (int k = 0; k < 4; ++k)
            file[at + static_cast<std::size_t>(k)] = static_cast<unsigned char>(v >> (8 * k));
    };
    for (std::size_t b = 0; b + 512 <= file.size(); b += 512) {
        put(b, zb::uf2_layout::magic0);
        put(b + 4, zb::uf2_layout::magic1);
        put(b + 508, zb::uf2_layout::magic_end);
    }
}

std::map<std::uint64_t, unsigned char> memory_of(const zb::image& img)
{
    std::map<std::uint64_t, unsigned char> m;
    for (const zb::part& p : img.parts)
        for (std::size_t k = 0; k < p.data.size(); ++k)
            m[p.from.load + k] = p.data[k];
    return m;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 5)
        return 0;
    std::optional<std::uint32_t> pick;
    if (data[0] & 2)
        pick = static_cast<std::uint32_t>(data[1]) | static_cast<std::uint32_t>(data[2]) << 8 |
               static_cast<std::uint32_t>(data[3]) << 16 |
               static_cast<std::uint32_t>(data[4]) << 24;
    std::vector<unsigned char> file(data + 5, data + size);
    if (data[0] & 1)
        stamp(file);
    const zb::uf2_image u = zb::read_uf2(file, pick);
    if (u.error.f != zb::uf2_fault::none) {
        CHECK(u.error.block <= file.size() / 512);
        CHECK(!zb::uf2_message("in.uf2", u.error).empty());
        return 0;
    }
    std::uint64_t end = 0, total = 0;
    for (std::size_t k = 0; k < u.img.parts.size(); ++k) {
        const zb::part& p = u.img.parts[k];
        CHECK(!p.data.empty());
        CHECK(k == 0 || p.from.load >= end);
        end = p.from.load + p.data.size();
        total += p.data.size();
        CHECK(!u.img.held.empty());
        const unsigned char* buf = u.img.held.front().get();
        CHECK(p.data.data() >= buf && p.data.data() + p.data.size() <= buf + file.size());
    }
    CHECK(total <= u.taken * zb::uf2_layout::max_payload);
    CHECK(u.taken + u.skipped <= u.blocks);

    std::string out;
    const std::vector<zb::block> blocks = zb::blocks_of(u.img);
    if (zb::write_image(blocks, zb::uf2, "in.uf2", zb::string_sink(out)) != zb::hex_result::ok)
        return 0;  // past 4 GiB
    const zb::uf2_image back = zb::read_uf2(
        {reinterpret_cast<const unsigned char*>(out.data()), out.size()}, std::nullopt);
    CHECK(back.error.f == zb::uf2_fault::none);
    const auto before = memory_of(u.img), after = memory_of(back.img);
    for (const auto& [a, v] : before) {
        const auto it = after.find(a);
        CHECK(it != after.end() && it->second == v);
    }
    return 0;
}
