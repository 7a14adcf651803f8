// The checksum kinds by name, and the one start, add and final that -crc calls for each.
#include "image/sum.h"

#include <algorithm>
#include <cstring>

#include "image/image.h"

namespace zb {

namespace {

bool same(std::string_view a, std::string_view b)
{
    auto low = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [&](char x, char y) { return low(x) == low(y); });
}

std::uint64_t mask(unsigned bits) { return (std::uint64_t{1} << bits) - 1; }  // below 64

parsed_kind fault(kind_fault f, std::string why)
{
    parsed_kind r;
    r.fault = f;
    r.why = std::move(why);
    return r;
}

// The number in size bytes, least significant first unless big.
void store(checksum_value& v, bool big)
{
    for (std::size_t k = 0; k < v.size; ++k)
        v.field[big ? v.size - 1 - k : k] = static_cast<unsigned char>(v.number >> (8 * k));
}

}  // namespace

parsed_kind parse_kind(std::string_view word)
{
    std::string_view base = word;
    const bool be = base.size() > 3 && same(base.substr(base.size() - 3), "/be");
    if (be)
        base.remove_suffix(3);
    parsed_kind r;
    if (base.size() >= 4 && same(base.substr(0, 4), "crc:")) {
        if (auto e = parse_model(base.substr(4), r.kind.crc))
            return fault(kind_fault::model, *e);
        r.kind.big = be;
        r.name = std::string(word);
        return r;
    }
    const auto row = std::find_if(checksum_kinds.begin(), checksum_kinds.end(),
                                  [&](const kind_row& k) { return same(base, k.word); });
    if (row == checksum_kinds.end())
        return fault(kind_fault::unknown, std::string(word) + " is not a checksum kind");
    const std::string w(row->word);
    if (be && row->kind.fam == family::sha256)
        return fault(kind_fault::be_refused, w + " is stored in digest order, never big-endian");
    if (be && row->kind.big)
        return fault(kind_fault::be_refused, w + " is stored big-endian already");
    r.kind = row->kind;
    r.kind.big = r.kind.big || be;
    r.name = be ? w + "/be" : w;
    return r;
}

std::string kind_words()
{
    std::string s;
    for (const kind_row& row : checksum_kinds)
        s += (s.empty() ? "" : ", ") + std::string(row.word);
    return s;
}

std::size_t field_size(const checksum_kind& k)
{
    switch (k.fam) {
    case family::crc:
        return (k.crc.width + 7) / 8;
    case family::sum:
        return k.bits / 8;
    case family::sha256:
        break;
    }
    return 32;
}

std::size_t alignment(const checksum_kind& k) { return k.fam == family::crc && k.words ? 4 : 1; }

checksum_state checksum_start(const checksum_kind& k)
{
    checksum_state s;
    s.kind = k;
    if (k.fam == family::crc)
        s.crc = crc_start(k.crc, k.words);
    return s;
}

void checksum_add(checksum_state& s, std::span<const unsigned char> bytes)
{
    switch (s.kind.fam) {
    case family::crc:
        return crc_add(s.crc, bytes);
    case family::sum:
        s.sum = add_bytes(s.sum, bytes);
        return;
    case family::sha256:
        return sha256_add(s.sha, bytes);
    }
}

checksum_value checksum_final(const checksum_state& s)
{
    const checksum_kind& k = s.kind;
    checksum_value v;
    v.size = field_size(k);
    switch (k.fam) {
    case family::crc:
        v.number = crc_final(s.crc);
        break;
    case family::sum: {
        const std::uint64_t sum = k.form == sum_form::neg   ? 0 - s.sum
                                  : k.form == sum_form::inv ? ~s.sum
                                                            : s.sum;
        v.number = sum & mask(k.bits);
        break;
    }
    case family::sha256:
        v.field = sha256_final(s.sha);
        return v;
    }
    store(v, k.big);
    return v;
}

checksum_value stored_value(const checksum_kind& k, std::span<const unsigned char> field)
{
    checksum_value v;
    v.size = std::min(field_size(k), field.size());
    std::copy_n(field.begin(), v.size, v.field.begin());
    if (k.fam != family::sha256)
        for (std::size_t i = 0; i < v.size; ++i)
            v.number |= std::uint64_t{v.field[k.big ? v.size - 1 - i : i]} << (8 * i);
    return v;
}

std::string value_text(const checksum_kind& k, const checksum_value& v)
{
    if (k.fam != family::sha256)
        return hex_text(v.number, static_cast<int>(2 * v.size));
    std::string s;
    for (unsigned char b : v.bytes()) {
        s += "0123456789abcdef"[b >> 4];
        s += "0123456789abcdef"[b & 15];
    }
    return s;
}

std::uint64_t add_bytes(std::uint64_t s, std::span<const unsigned char> bytes)
{
    // Eight bytes a step into four 16-bit lanes, the even bytes and the odd ones apart, each
    // lane gaining at most 510 a step: 128 steps fit before the lanes are added up.
    constexpr std::uint64_t even = 0x00FF00FF00FF00FF;
    const unsigned char* p = bytes.data();
    std::size_t n = bytes.size();
    while (n >= 8) {
        const std::size_t steps = std::min<std::size_t>(n / 8, 128);
        std::uint64_t lanes = 0;
        for (std::size_t i = 0; i < steps; ++i, p += 8) {
            std::uint64_t x;
            std::memcpy(&x, p, 8);  // the order of the bytes does not change their sum
            lanes += (x & even) + ((x >> 8) & even);
        }
        n -= steps * 8;
        s += (lanes & 0xFFFF) + ((lanes >> 16) & 0xFFFF) + ((lanes >> 32) & 0xFFFF) + (lanes >> 48);
    }
    for (; n > 0; --n)
        s += *p++;
    return s;
}

}  // namespace zb
