// The UF2 reader: one pass over the blocks that checks each against its run, then the blocks
// of the family taken, joined as the records of hex text are (a byte given twice must be the
// same byte), and copied into one buffer of the image's own in runs of following blocks.
#include "read/uf2.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "formats/uf2.h"
#include "image/merge.h"
#include "platform.h"

namespace zb {

namespace {

std::uint32_t le32(const unsigned char* p)
{
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

// The family a block names, or no_family.
std::uint64_t family_of(const unsigned char* b)
{
    return le32(b + uf2_layout::at_flags) & uf2_layout::family_present ? le32(b + uf2_layout::at_family) : no_family;
}

std::string family_words(std::uint64_t f)
{
    return f == no_family ? "no family" : "family " + uf2_family_text(static_cast<std::uint32_t>(f));
}

uf2_error err(uf2_fault f, std::uint64_t block = 0, std::uint64_t a = 0, std::uint64_t b = 0,
              std::uint64_t c = 0, std::uint64_t d = 0)
{
    uf2_error e;
    e.f = f;
    e.block = block;
    e.a = a;
    e.b = b;
    e.c = c;
    e.d = d;
    return e;
}

struct run_state {
    bool open = false;
    std::uint64_t first = 0;  // the block that began it
    std::uint32_t count = 0, next = 0;
    std::uint64_t family = no_family;
};

// The fault of block k against the run it is in, which it moves on.
uf2_error check_block(const unsigned char* b, std::uint64_t k, run_state& run)
{
    const std::uint32_t m0 = le32(b + uf2_layout::at_magic0), m1 = le32(b + uf2_layout::at_magic1),
                        me = le32(b + uf2_layout::at_magic_end);
    if (m0 != uf2_layout::magic0 || m1 != uf2_layout::magic1 || me != uf2_layout::magic_end)
        return err(uf2_fault::magic, k, m0, m1, me);
    if (const std::uint32_t size = le32(b + uf2_layout::at_size); size > uf2_layout::max_payload)
        return err(uf2_fault::payload, k, size);
    const std::uint32_t number = le32(b + uf2_layout::at_number), count = le32(b + uf2_layout::at_count);
    const std::uint64_t family = family_of(b);
    if (!run.open) {
        if (number != 0)
            return err(uf2_fault::number, k, number, 0);
        if (count == 0)
            return err(uf2_fault::no_blocks, k);
        run = {true, k, count, 0, family};
    } else if (number != run.next) {
        return err(uf2_fault::number, k, number, run.next);
    } else if (count != run.count) {
        return err(uf2_fault::count, k, count, run.count, run.first);
    } else if (family != run.family) {
        return err(uf2_fault::family_changes, k, family, run.family, run.first);
    }
    run.open = ++run.next != run.count;
    return {};
}

bool for_flash(const unsigned char* b)
{
    return !(le32(b + uf2_layout::at_flags) & (uf2_layout::not_main_flash | uf2_layout::file_container));
}

// The family to take: pick where the file has it, the file's only one, every block where they
// name none.
uf2_error choose(const std::vector<std::pair<std::uint64_t, std::uint64_t>>& seen,
                 std::optional<std::uint32_t> pick, std::uint64_t& out)
{
    const bool untagged = seen.size() == 1 && seen.front().first == no_family;
    out = seen.empty() ? no_family : seen.front().first;
    if (pick && !untagged) {
        for (const auto& [family, first] : seen)
            if (family == *pick) {
                out = family;
                return {};
            }
        uf2_error e = err(uf2_fault::not_there, 0, *pick);
        for (const auto& [family, first] : seen)
            e.families.append(e.families.empty() ? "" : ", ").append(family_words(family));
        return e;
    }
    if (seen.size() > 1)
        return err(uf2_fault::families, seen[1].second, seen[1].first, seen[0].first, seen[0].second);
    return {};
}

std::string block_name(std::uint64_t first, std::uint64_t last)
{
    return first == last ? "block " + std::to_string(first)
                         : "blocks " + std::to_string(first) + "-" + std::to_string(last);
}

// The joined payloads copied into one buffer, a part for each run of blocks that follow one
// another in the file and in the address space.
bool gather(std::vector<part>& joined, image& img, std::uint64_t& asked)
{
    std::uint64_t total = 0;
    for (const part& p : joined)
        total += p.data.size();
    asked = total;
    big_buffer buf(fw::big_alloc(static_cast<std::size_t>(total) + 1));
    if (!buf)
        return false;
    unsigned char* at = buf.get();
    std::uint64_t last_block = 0;
    std::uint64_t first_block = 0;
    for (const part& p : joined) {
        const std::uint64_t k = p.from.offset / uf2_layout::block_size;
        std::memcpy(at, p.data.data(), p.data.size());
        const bool follows = !img.parts.empty() && end_of(img.parts.back()) == p.from.load &&
                             (k == last_block || k == last_block + 1);
        if (follows) {
            part& q = img.parts.back();
            q.data = {q.data.data(), q.data.size() + p.data.size()};
            q.from.name = block_name(first_block, k);
        } else {
            first_block = k;
            img.parts.push_back({{at, p.data.size()},
                                 {block_name(k, k), p.from.load, p.from.load, p.from.offset,
                                  "UF2 target address"}});
        }
        last_block = k;
        at += p.data.size();
    }
    img.held.push_back(std::move(buf));
    return true;
}

}  // namespace

bool is_uf2(std::span<const unsigned char> file)
{
    return file.size() >= 8 && le32(file.data()) == uf2_layout::magic0 &&
           le32(file.data() + 4) == uf2_layout::magic1;
}

uf2_image read_uf2(std::span<const unsigned char> file, std::optional<std::uint32_t> pick)
{
    uf2_image r;
    const std::uint64_t n = file.size() / uf2_layout::block_size;
    r.blocks = n;
    run_state run;
    // Each family the file holds, with its first block for main flash, in the order met.
    std::vector<std::pair<std::uint64_t, std::uint64_t>> seen;
    for (std::uint64_t k = 0; k < n; ++k) {
        const unsigned char* b = file.data() + k * uf2_layout::block_size;
        if ((r.error = check_block(b, k, run)).f != uf2_fault::none)
            return r;
        const std::uint64_t family = family_of(b);
        if (for_flash(b) && std::none_of(seen.begin(), seen.end(),
                                         [&](const auto& s) { return s.first == family; }))
            seen.emplace_back(family, k);
    }
    if (file.size() % uf2_layout::block_size != 0) {
        r.error = err(uf2_fault::cut_short, n, file.size() % uf2_layout::block_size);
        return r;
    }
    if (run.open) {
        r.error = err(uf2_fault::ends_early, n, run.next, run.count);
        return r;
    }
    r.families = seen.size();
    std::uint64_t take = no_family;
    if ((r.error = choose(seen, pick, take)).f != uf2_fault::none)
        return r;
    const bool untagged = seen.size() == 1 && take == no_family;

    std::vector<sourced> payloads;
    for (std::uint64_t k = 0; k < n; ++k) {
        const unsigned char* b = file.data() + k * uf2_layout::block_size;
        if (!for_flash(b)) {
            ++r.skipped;
            continue;
        }
        if (!untagged && family_of(b) != take)
            continue;
        ++r.taken;
        const std::uint32_t size = le32(b + uf2_layout::at_size), addr = le32(b + uf2_layout::at_addr);
        if (size > 0)
            payloads.push_back({{{b + uf2_layout::data_at, size},
                                 {{}, addr, addr, k * uf2_layout::block_size + uf2_layout::data_at, {}}},
                                static_cast<std::size_t>(k)});
    }
    if (payloads.empty()) {
        r.error = err(uf2_fault::nothing);
        return r;
    }
    if (take != no_family)
        r.family = static_cast<std::uint32_t>(take);
    std::vector<part> joined;
    if (clash c; !join_parts(std::move(payloads), joined, c)) {
        r.error = err(uf2_fault::clash, c.second, c.addr, c.first, c.b, c.a);
        return r;
    }
    if (std::uint64_t asked = 0; !gather(joined, r.img, asked)) {
        r.error = err(uf2_fault::no_memory, 0, asked);
        return r;
    }
    r.img.kind = uf2_kind(r);
    return r;
}

std::string uf2_kind(const uf2_image& u)
{
    std::string k = "UF2, " + family_words(u.family ? *u.family : no_family);
    if (u.families > 1)
        k += " (1 of " + std::to_string(u.families) + " families)";
    k += ", " + std::to_string(u.taken) + (u.taken == 1 ? " block" : " blocks");
    if (u.skipped > 0)
        k += ", " + std::to_string(u.skipped) + " not for main flash skipped";
    return k;
}

std::string uf2_what(const uf2_error& e)
{
    char b[160];
    switch (e.f) {
    case uf2_fault::none:
        break;
    case uf2_fault::cut_short:
        return "cut short, " + std::to_string(e.a) + " of its 512 bytes";
    case uf2_fault::magic:
        std::snprintf(b, sizeof b,
                      "magic numbers 0x%08X 0x%08X 0x%08X, should be 0x%08X 0x%08X 0x%08X",
                      static_cast<unsigned>(e.a), static_cast<unsigned>(e.b),
                      static_cast<unsigned>(e.c), static_cast<unsigned>(uf2_layout::magic0),
                      static_cast<unsigned>(uf2_layout::magic1), static_cast<unsigned>(uf2_layout::magic_end));
        return b;
    case uf2_fault::payload:
        return "payload size " + std::to_string(e.a) + ", at most 476";
    case uf2_fault::number:
        return "block number " + std::to_string(e.a) + ", should be " + std::to_string(e.b);
    case uf2_fault::no_blocks:
        return "number of blocks 0";
    case uf2_fault::count:
        return "number of blocks " + std::to_string(e.a) + ", block " + std::to_string(e.c) +
               " began its run with " + std::to_string(e.b);
    case uf2_fault::family_changes:
        return family_words(e.a) + ", block " + std::to_string(e.c) + " began its run with " +
               family_words(e.b);
    case uf2_fault::ends_early:
        return "missing, the file ends after " + std::to_string(e.a) + " of its run's " +
               std::to_string(e.b) + " blocks";
    case uf2_fault::families:
        return family_words(e.a) + ", block " + std::to_string(e.c) + " has " +
               family_words(e.b) + ": pick one with -family";
    case uf2_fault::not_there:
        return "no block of " + family_words(e.a) + ", only of " + e.families;
    case uf2_fault::clash:
        std::snprintf(b, sizeof b, "0x%02X at %s, block %llu has 0x%02X there",
                      static_cast<unsigned>(e.c), hex_text(e.a, 8).c_str(),
                      static_cast<unsigned long long>(e.b), static_cast<unsigned>(e.d));
        return b;
    case uf2_fault::nothing:
        return "no block for main flash holds a byte";
    case uf2_fault::no_memory:
        return "unable to allocate " + std::to_string(e.a) + " bytes";
    }
    return {};
}

std::string uf2_message(std::string_view infile, const uf2_error& e)
{
    std::string m = "Bad UF2 file " + std::string(infile);
    switch (e.f) {
    case uf2_fault::not_there:
    case uf2_fault::nothing:
    case uf2_fault::no_memory:
        break;
    default:
        m += " block " + std::to_string(e.block) + " (offset " +
             hex_text(e.block * uf2_layout::block_size) + ")";
    }
    return m + ": " + uf2_what(e) + "\n";
}

}  // namespace zb
