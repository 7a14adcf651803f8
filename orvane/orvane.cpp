// orvane core: text-mode reading, name extraction, dealing and finishing of the six lists.
#include "orvane.h"

#include <algorithm>
#include <cerrno>

#include "platform.h"

namespace orvane {

namespace {

constexpr std::array<std::string_view, nlists> names = {"OBJS1", "OBJS2", "OBJS3",
                                                        "OBJS4", "OBJS5", "OBJS6"};

constexpr std::string_view combined =
    "OBJS = $(OBJS1) $(OBJS2) $(OBJS3) $(OBJS4) $(OBJS5) $(OBJS6)";
static_assert(combined.size() == 60);

// "OBJSn = " is 8 characters; a finished list without entries is "OBJSn =".
constexpr std::size_t head_len = 8;
constexpr std::size_t bare_len = head_len - 1;

constexpr char ctrl_z = 0x1a;

void take_pieces(scanner& s, bool at_end)
{
    std::string_view text = s.text;
    std::size_t at = 0;
    while (std::size_t n = piece_len(text.substr(at), at_end)) {
        add_line(s.lists, text.substr(at, n), s.src);
        at += n;
    }
    s.text.erase(0, at);
}

}  // namespace

void translate(textmode& t, std::string_view raw, std::string& out)
{
    std::size_t i = 0;
    while (i < raw.size() && !t.ended) {
        if (t.cr) {
            // CR LF is one newline; a CR followed by anything else stays text.
            t.cr = false;
            if (raw[i] == '\n') {
                out += '\n';
                i++;
                continue;
            }
            out += '\r';
        }
        std::size_t run = i;
        while (run < raw.size() && raw[run] != '\r' && raw[run] != ctrl_z)
            run++;
        out.append(raw.substr(i, run - i));
        if (run == raw.size())
            break;
        if (raw[run] == ctrl_z)
            t.ended = true;
        else
            t.cr = true;
        i = run + 1;
    }
}

void translate_end(textmode& t, std::string& out)
{
    if (t.cr && !t.ended)
        out += '\r';
    t.cr = false;
}

std::size_t piece_len(std::string_view text, bool at_end)
{
    std::string_view head = text.substr(0, piece_max);
    if (auto nl = head.find('\n'); nl != std::string_view::npos)
        return nl + 1;
    if (head.size() == piece_max || at_end)
        return head.size();
    return 0;
}

std::string_view getname(std::string_view line)
{
    line = line.substr(0, line.find('\0'));
    auto start = line.find_first_not_of(" \t\n");
    if (start == std::string_view::npos)
        return {};
    std::string_view rest = line.substr(start);
    // A name that would begin with "//" is a comment: the minimum is then 0.
    return rest.substr(0, std::min(rest.find_first_of(" \t\n"), rest.find("//")));
}

objlists start_lists()
{
    objlists l;
    for (int n = 0; n < nlists; n++) {
        l.list[n] = names[n];
        l.list[n] += " = ";
    }
    return l;
}

verdict add_line(objlists& l, std::string_view line, const source& s)
{
    std::string_view name = getname(line);
    if (name.empty())
        return verdict::noname;

    std::string path(s.dir), entry;
    path += name;
    auto dot = name.rfind('.');
    if (dot == std::string_view::npos) {
        path += ".s";
        entry = "obj";
        entry += s.type;
        entry += '/';
        entry += name;
        entry += ".o";
    } else {
        // The only extension a listed name may carry is the type text itself.
        if (name.substr(dot + 1) != s.type)
            return verdict::wrongtype;
        entry = name;
    }
    if (!s.present(path))
        return verdict::absent;

    std::string& dst = l.list[l.count % nlists];
    dst += entry;
    dst += ' ';
    l.count++;
    return verdict::accepted;
}

void finish(objlists& l)
{
    for (auto& t : l.list)
        t.pop_back();
    const std::string_view first = l.list[0];
    for (int n = 1; n < nlists; n++)
        if (l.list[n].size() == bare_len)
            l.list[n] += first.substr(bare_len);
}

std::string render(const objlists& l)
{
    std::string out;
    for (const auto& t : l.list) {
        out += t;
        out += " \n";
    }
    out += combined;
    out += " \n";
    return out;
}

int open_read(const char* path, bool nonblock)
{
    int fd = fw::open_read(path, nonblock);
    if (fd < 0)
        return -1;
    // Opening a directory for reading fails on the platform the kit's build trees come from;
    // here it would succeed and then read as nothing.
    fw::file_info fi;
    int e = fw::info(fd, fi);
    if (e == 0 && fi.type == fw::kind::directory)
        e = EISDIR;
    if (e != 0) {
        fw::close(fd);
        errno = e;
        return -1;
    }
    return fd;
}

bool source_present(const std::string& path)
{
    // Non-blocking, so that a FIFO without a writer answers at once instead of hanging the run.
    int fd = open_read(path.c_str(), true);
    if (fd < 0)
        return false;
    fw::close(fd);
    return true;
}

void feed(scanner& s, std::string_view raw)
{
    translate(s.tm, raw, s.text);
    take_pieces(s, false);
}

std::string feed_end(scanner& s)
{
    translate_end(s.tm, s.text);
    take_pieces(s, true);
    finish(s.lists);
    return render(s.lists);
}

std::string objtext(std::string_view raw, const source& s)
{
    scanner sc{.src = s};
    feed(sc, raw);
    return feed_end(sc);
}

}  // namespace orvane
