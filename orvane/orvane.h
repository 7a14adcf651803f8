// orvane core: the list file read as a text stream, names taken from its lines, and the dealing
// of accepted names into six make variables.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace orvane {

inline constexpr std::string_view usage_text =
    "Usage: orvane dirname filename type[32l | 32b | 16l | 16b]\n";

// One read of the list file yields at most this many characters (a 512-byte line store).
inline constexpr std::size_t piece_max = 511;

inline constexpr int nlists = 6;

// Text-mode reading: a CR LF pair reads as one newline, a byte 0x1A ends the data, a lone CR is
// text. Raw bytes may arrive in chunks of any size; a CR at the end of a chunk waits for the
// next byte.
struct textmode {
    bool cr = false;     // a CR whose successor has not arrived yet
    bool ended = false;  // 0x1A met; nothing after it is data
};

// Appends the text that raw reads as to out.
void translate(textmode& t, std::string_view raw, std::string& out);

// At the end of the raw bytes: a CR still waiting is text.
void translate_end(textmode& t, std::string& out);

// Length of the piece at the front of text: up to and including its first newline, or piece_max
// characters, whichever is shorter. 0 when text is empty, or when the piece could still grow
// and more text may follow (!at_end).
std::size_t piece_len(std::string_view text, bool at_end);

// The name on a line: its first word, ended by a blank, tab, newline or "//". Empty when the
// line holds none. The line is a C string to the names, so a NUL byte ends it.
std::string_view getname(std::string_view line);

// What the run is given: the directory text (a plain prefix), the type text, and the test of
// whether a source path is present.
struct source {
    std::string_view dir;
    std::string_view type;
    bool (*present)(const std::string& path);
};

// The six lists, each "OBJSn = " followed by its entries, each entry followed by a blank.
struct objlists {
    std::array<std::string, nlists> list;
    std::uint64_t count = 0;  // names accepted so far; count % 6 receives the next one
};

objlists start_lists();

enum class verdict { noname, wrongtype, absent, accepted };

// Takes the name of one piece of the list file and, if accepted, deals its entry.
verdict add_line(objlists& l, std::string_view line, const source& s);

// Drops each list's last character and fills lists 2 to 6 that received nothing from list 1.
void finish(objlists& l);

// The seven lines: lists 1 to 6, then the combined line, each ended by " \n".
std::string render(const objlists& l);

// Opens path for reading as the list file or a source is opened. A directory does not count as
// openable. Returns the descriptor, or -1 with errno set.
int open_read(const char* path, bool nonblock);

// True when the source file at path opens for reading (and is closed again).
bool source_present(const std::string& path);

// One pass over the list file: raw bytes in, pieces dealt as they complete.
struct scanner {
    source src;
    textmode tm{};
    std::string text{};  // read but not yet taken as a piece
    objlists lists = start_lists();
};

void feed(scanner& s, std::string_view raw);

// At the end of the list file: takes what is left, finishes the lists and renders them.
std::string feed_end(scanner& s);

// A whole run over list-file bytes already in memory: the seven lines with "\n" ends.
std::string objtext(std::string_view raw, const source& s);

}  // namespace orvane
