// Makes the bash completion from pkg/completion.bash: its line "# zorbin's tables" becomes
// zorbin's option words and the arguments each option takes, written out from the program's
// own tables, so that an option or a format added there is completed without more ado.
//   completion_words TEMPLATE OUTPUT
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "cli.h"
#include "formats/formats.h"
#include "image/sum.h"

namespace {

constexpr std::string_view marker = "# zorbin's tables";

// What the completion offers for an argument: n a number, f a file, k a CRC kind, w any
// other word, m a number that may be left out; nothing is offered for n and w, and where m
// may stand, whatever stands there otherwise.
std::string_view letters(zb::arg_kind k)
{
    switch (k) {
    case zb::arg_kind::none:
        break;
    case zb::arg_kind::number:
    case zb::arg_kind::address:
    case zb::arg_kind::byte:
        return "n";
    case zb::arg_kind::range:
        return "n n";
    case zb::arg_kind::file:
        return "f";
    case zb::arg_kind::crc_kind:
        return "k";
    case zb::arg_kind::input_kind:
    case zb::arg_kind::family:
    case zb::arg_kind::usb_id:
    case zb::arg_kind::text:
    case zb::arg_kind::name:
        return "w";
    case zb::arg_kind::maybe:
        return "m";
    }
    return "";
}

// A bash array of words, its lines no longer than 96 characters.
std::string words(std::string_view name, const std::vector<std::string_view>& all)
{
    std::string text(name);
    text += "=(";
    const std::string indent(text.size(), ' ');
    std::size_t line = 0;  // where the last line begins
    for (std::size_t k = 0; k < all.size(); ++k) {
        if (k > 0 && text.size() - line + 1 + all[k].size() + 1 > 96) {
            text += "\n";
            line = text.size();
            text += indent;
        } else if (k > 0) {
            text += ' ';
        }
        text += all[k];
    }
    return text + ")\n";
}

// The option words (the help's order: the options, then the formats as the help lists them,
// then those it does not list), the CRC kinds, and what each option takes after it.
std::string tables()
{
    std::vector<std::string_view> all;
    for (const zb::option_row& o : zb::option_table()) {
        all.push_back(o.word);
        if (!o.alias.empty())
            all.push_back(o.alias);
    }
    for (int place = 1; place <= static_cast<int>(zb::format_count); ++place)
        for (const zb::fmt f : zb::hex_formats)
            if (zb::formats[f].help_rank == place)
                all.push_back(zb::formats[f].word);
    for (const zb::fmt f : zb::hex_formats)
        if (zb::formats[f].help_rank == 0)
            all.push_back(zb::formats[f].word);
    all.push_back(zb::word_of(zb::raw));
    std::vector<std::string_view> kinds;
    for (const zb::kind_row& k : zb::checksum_kinds)
        kinds.push_back(k.word);

    std::string text = words("_fwkit_zorbin_words", all) + words("_fwkit_zorbin_crc_kinds", kinds);
    text += "\n# The words an option takes after it, whatever they look like: n a number, f a file,\n"
            "# k a CRC kind, w a word; m last, a number that may be left out.\n"
            "_fwkit_zorbin_args()\n{\n    case ${1,,} in\n";
    for (const zb::option_row& o : zb::option_table()) {
        std::string takes;
        for (const zb::arg_kind k : o.args)
            if (k != zb::arg_kind::none)
                takes.append(" ").append(letters(k));
        if (takes.empty())
            continue;
        text.append("        -").append(o.word);
        if (!o.alias.empty())
            text.append(" | -").append(o.alias);
        text.append(") echo").append(takes).append(" ;;\n");
    }
    return text + "    esac\n}\n";
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::cerr << "usage: completion_words TEMPLATE OUTPUT\n";
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    std::ostringstream out;
    bool placed = false;
    for (std::string line; std::getline(in, line);) {
        if (line == marker) {
            out << tables();
            placed = true;
        } else {
            out << line << '\n';
        }
    }
    if (!in.eof() || !placed) {
        std::cerr << argv[1] << ": cannot be read, or has no line \"" << marker << "\"\n";
        return 1;
    }
    std::ofstream file(argv[2], std::ios::binary | std::ios::trunc);
    file << out.str();
    if (!file.flush()) {
        std::cerr << argv[2] << ": cannot be written\n";
        return 1;
    }
    return 0;
}
