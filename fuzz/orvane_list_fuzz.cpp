// orvane's list-file reading and name extraction: objtext over arbitrary list-file bytes with a
// fake source test, checked against the same bytes fed in chunks of arbitrary sizes (as the
// program's reads deliver them) and against the shape of the seven lines.
//
// Input layout: byte 0 picks the directory text (bits 0-1) and the length of the type text
// (bits 2-4); the type text follows, then the list file.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "check.h"
#include "orvane.h"

namespace {

constexpr std::string_view dirs[] = {"src/", "", "a.d/", "/"};

std::string_view dir_text;
std::size_t tests = 0;

// A source is present unless its path holds an x or its length is a multiple of 5.
bool fake_present(const std::string& path)
{
    CHECK(path.starts_with(dir_text));
    tests++;
    return path.find_first_of("xX") == std::string::npos && path.size() % 5 != 0;
}

std::vector<std::string_view> split(std::string_view s, char sep)
{
    std::vector<std::string_view> v;
    for (std::size_t at = 0; at <= s.size();) {
        auto end = s.find(sep, at);
        if (end == std::string_view::npos)
            end = s.size();
        v.push_back(s.substr(at, end - at));
        at = end + 1;
    }
    return v;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1)
        return 0;
    dir_text = dirs[data[0] & 3];
    std::size_t type_len = std::min<std::size_t>((data[0] >> 2) & 7, size - 1);
    // The type comes from the command line: no NUL, and no newline to keep the lines countable.
    std::string type;
    for (std::size_t k = 0; k < type_len; k++)
        if (data[1 + k] != 0 && data[1 + k] != '\n')
            type += static_cast<char>(data[1 + k]);
    std::string_view raw(reinterpret_cast<const char*>(data) + 1 + type_len, size - 1 - type_len);
    const orvane::source src{dir_text, type, fake_present};

    tests = 0;
    const std::string whole = orvane::objtext(raw, src);

    // The same bytes in chunks whose sizes come from the bytes themselves.
    orvane::scanner sc{.src = src};
    for (std::size_t at = 0; at < raw.size();) {
        std::size_t n = 1 + static_cast<unsigned char>(raw[at]) % 7;
        if (static_cast<unsigned char>(raw[at]) > 200)
            n += 600;
        n = std::min(n, raw.size() - at);
        orvane::feed(sc, raw.substr(at, n));
        at += n;
    }
    CHECK(orvane::feed_end(sc) == whole);
    CHECK(sc.lists.count <= tests / 2);

    auto lines = split(whole, '\n');
    CHECK(lines.size() == 8 && lines[7].empty());
    CHECK(lines[6] == "OBJS = $(OBJS1) $(OBJS2) $(OBJS3) $(OBJS4) $(OBJS5) $(OBJS6) ");
    const std::uint64_t count = sc.lists.count;
    std::vector<std::string_view> first;
    for (int n = 0; n < orvane::nlists; n++) {
        std::string head = "OBJS" + std::to_string(n + 1) + " =";
        CHECK(lines[n].starts_with(head) && lines[n].ends_with(" "));
        std::string_view body = lines[n].substr(head.size());
        body.remove_suffix(1);
        // Entries follow "=" each after one blank; a list that received none repeats list 1.
        std::vector<std::string_view> entries;
        if (!body.empty()) {
            CHECK(body.front() == ' ');
            entries = split(body.substr(1), ' ');
        }
        const std::uint64_t own = count / 6 + (static_cast<std::uint64_t>(n) < count % 6);
        if (n == 0)
            first = entries;
        if (own == 0 && n > 0) {
            CHECK(entries == first);
        } else if (type.find_first_of(" \t") == std::string::npos) {
            // Names end at a blank, tab or newline, so each entry is one word.
            CHECK(entries.size() == own);
            for (auto e : entries)
                CHECK(!e.empty() && e.find_first_of("\t\n") == std::string_view::npos);
        }
    }
    return 0;
}
