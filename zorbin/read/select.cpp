// Section choice by name, as objcopy's -j and -R take their patterns (fnmatch without flags).
#include "read/select.h"

namespace zb {

namespace {

constexpr std::size_t npos = std::string_view::npos;

// Where the set that opens at p[i] ("[") closes; npos when it does not. A "]" right after the
// "[" (or after its "!" or "^") is a member.
std::size_t set_end(std::string_view p, std::size_t i)
{
    std::size_t k = i + 1;
    if (k < p.size() && (p[k] == '!' || p[k] == '^'))
        ++k;
    if (k < p.size() && p[k] == ']')
        ++k;
    while (k < p.size() && p[k] != ']')
        ++k;
    return k < p.size() ? k : npos;
}

bool in_set(std::string_view p, std::size_t i, std::size_t end, unsigned char c)
{
    std::size_t k = i + 1;
    const bool negated = p[k] == '!' || p[k] == '^';
    k += negated;
    bool found = false;
    while (k < end) {
        const auto lo = static_cast<unsigned char>(p[k]);
        if (k + 2 < end && p[k + 1] == '-') {
            found = found || (lo <= c && c <= static_cast<unsigned char>(p[k + 2]));
            k += 3;
        } else {
            found = found || lo == c;
            ++k;
        }
    }
    return found != negated;
}

// Whether the one character of name at j matches the pattern's element at i; i moves past
// the element when it does.
bool one(std::string_view p, std::size_t& i, char c)
{
    if (p[i] == '?') {
        ++i;
        return true;
    }
    if (p[i] == '[') {
        if (const std::size_t end = set_end(p, i); end != npos) {
            if (!in_set(p, i, end, static_cast<unsigned char>(c)))
                return false;
            i = end + 1;
            return true;
        }
    }
    const std::size_t at = p[i] == '\\' && i + 1 < p.size() ? i + 1 : i;
    if (p[at] != c)
        return false;
    i = at + 1;
    return true;
}

bool matches_any(const std::vector<std::string_view>& patterns, std::string_view name)
{
    for (const std::string_view p : patterns)
        if (glob_match(p, name))
            return true;
    return false;
}

std::string joined(const std::vector<std::string>& names)
{
    std::string s;
    for (const std::string& n : names)
        s += (s.empty() ? "" : ", ") + n;
    return s.empty() ? "nothing" : s;
}

// One -info line: the pattern, the sections it put in (or left out of) the image, and those
// it matched that hold no bytes for it.
std::string note(std::string_view option, std::string_view pattern, std::string_view verb,
                 const std::vector<std::string>& moved, const std::vector<std::string>& inert)
{
    std::string line = std::string(option) + " " + std::string(pattern) + ": " + std::string(verb) +
                       " " + joined(moved);
    if (!inert.empty())
        line += "; no bytes for the image: " + joined(inert);
    return line;
}

}  // namespace

bool glob_match(std::string_view p, std::string_view name)
{
    std::size_t i = 0, j = 0;
    std::size_t star = npos, from = 0;  // after the last * seen, and where its run began
    while (j < name.size()) {
        if (i < p.size() && p[i] == '*') {
            star = ++i;
            from = j;
        } else if (i < p.size() && one(p, i, name[j])) {
            ++j;
        } else if (star != npos) {
            i = star;
            j = ++from;
        } else {
            return false;
        }
    }
    while (i < p.size() && p[i] == '*')
        ++i;
    return i == p.size();
}

bool chosen(const section_choice& c, std::string_view name)
{
    return (c.only.empty() || matches_any(c.only, name)) && !matches_any(c.remove, name);
}

bool keep_chosen(const elf_section& s, const void* choice)
{
    return chosen(*static_cast<const section_choice*>(choice), s.name);
}

std::optional<std::string> choice_refused(const section_choice& c, const elf_image& e,
                                          std::string_view infile)
{
    const std::string name(infile);
    if (e.sections.size() <= 1)
        return "Options -only and -remove choose sections by name: " + name +
               " has no section headers\n";
    for (const auto* list : {&c.only, &c.remove})
        for (const std::string_view p : *list) {
            bool found = false;
            for (std::size_t k = 1; k < e.sections.size() && !found; ++k)
                found = glob_match(p, e.sections[k].name);
            if (!found)
                return "No section of " + name + " matches " +
                       (list == &c.only ? "-only " : "-remove ") + std::string(p) + "\n";
        }
    return {};
}

std::vector<std::string> choice_notes(const section_choice& c, const elf_image& e)
{
    std::vector<std::string> lines;
    for (const auto* list : {&c.only, &c.remove}) {
        const bool only = list == &c.only;
        for (const std::string_view p : *list) {
            std::vector<std::string> moved, inert;
            for (std::size_t k = 1; k < e.sections.size(); ++k) {
                const elf_section& s = e.sections[k];
                if (!glob_match(p, s.name))
                    continue;
                if (!loadable(s))
                    inert.push_back(shown_name(s.name, s.index));
                else if (s.placed == only)
                    moved.push_back(shown_name(s.name, s.index));
            }
            lines.push_back(only ? note("-only", p, "keeps", moved, inert)
                                 : note("-remove", p, "drops", moved, inert));
        }
    }
    return lines;
}

}  // namespace zb
