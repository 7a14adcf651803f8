// zorbin's command line: scan_args on an argument vector made of the input's NUL-separated
// words, and getnum and cistrcmp on each word.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "check.h"
#include "cli.h"

namespace {

constexpr std::size_t max_words = 16;

int sign(int v) { return (v > 0) - (v < 0); }

void check_word(std::string_view w)
{
    if (auto v = zb::getnum(w)) {
        // Every accepted number reads back the same in plain decimal and in both hex spellings.
        char dec[16], hex[16];
        std::snprintf(dec, sizeof dec, "%u", static_cast<unsigned>(*v));
        std::snprintf(hex, sizeof hex, "%X", static_cast<unsigned>(*v));
        CHECK(zb::getnum(dec) == v);
        CHECK(zb::getnum(std::string("0x") + hex) == v);
        CHECK(zb::getnum(std::string("&") + hex) == v);
        if (*v <= 0x3FFFFF)
            CHECK(zb::getnum(std::string(dec) + "K") == *v * 1024);
    }
    for (std::string_view t : {"help", "base", "bin", "binary", "motorola32", "ihf"}) {
        CHECK(sign(zb::cistrcmp(w, t)) == -sign(zb::cistrcmp(t, w)));
        std::string up(w);
        for (char& c : up)
            if (c >= 'a' && c <= 'z')
                c = static_cast<char>(c - 32);
        if (zb::cistrcmp(w, t) == 0)
            CHECK(zb::cistrcmp(up, t) == 0);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::string_view text(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> words;
    while (!text.empty() && words.size() < max_words) {
        auto end = text.find('\0');
        words.emplace_back(text.substr(0, end));
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    }
    std::vector<const char*> argv{"Zorbin"};
    for (const auto& w : words)
        argv.push_back(w.c_str());
    argv.push_back(nullptr);

    zb::options opt;
    zb::scan_result r = zb::scan_args(argv.data(), opt);
    switch (r.status) {
    case zb::scan_status::run:
        CHECK(zb::row_of(opt.format) || opt.format == zb::raw ||
              (opt.format == zb::none && (opt.info || opt.verify || opt.cmp)));
        CHECK(r.message.empty());
        if (auto msg = zb::check_options(opt))
            CHECK(!msg->empty() && msg->back() == '\n');
        break;
    case zb::scan_status::help:
        break;
    case zb::scan_status::usage:
    case zb::scan_status::error:
        CHECK(!r.message.empty() && r.message.back() == '\n');
        break;
    }
    // Positional names are words of the vector itself, never copies or pieces.
    for (const char* p : {opt.infile, opt.outfile}) {
        bool found = p == nullptr;
        for (const auto& w : words)
            found = found || p == w.c_str();
        CHECK(found);
    }
    for (const auto& w : words)
        check_word(w);
    return 0;
}
