// kelvash's load-file writer on arbitrary input: the S-record scan with its short ways for plain
// data records, checked against a plain reading that cuts the input into line pieces and reads
// each record's fields with the C library's strtol; and the load file, which must be the header
// followed by the whole input.
//
// Input layout: byte 0 option bits (1 -r instead of -a, 2 -e given, 4 output to a pipe instead
// of a regular file, 8 the input behind 256 KiB of records less the offset in byte 5, so that
// it straddles the reader's block boundary); bytes 1..4 the -e value; the rest the input file.
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "check.h"
#include "loadfile.h"
#include "options.h"

namespace {

constexpr std::size_t block = 256 * 1024;  // the writer's read block

// Records ahead of the fuzzed bytes, exactly len bytes of them: S1 records and one S0 record
// of the remaining length.
std::string lead_in(std::size_t len)
{
    const std::string rec = "S1131000000102030405060708090A0B0C0D0E0F64\n";
    std::size_t s0 = len % rec.size();
    if (s0 < 4)
        s0 += rec.size();
    std::string out = "S0" + std::string(s0 - 3, '0') + "\n";
    while (out.size() < len)
        out += rec;
    return out;
}

struct expected {
    kv::wrote what = kv::wrote::in_eof;
    std::uint32_t lowest = 0xFFFFFFFF;
    std::uint32_t highest = 0;  // last data byte of the highest record
    std::uint32_t end_address = 0;
};

// The hex field of len characters at pos of a line that ends at its first NUL, as strtol reads
// it; 0 when it has no digit.
std::uint32_t field(std::string_view line, std::size_t pos, std::size_t len)
{
    line = line.substr(0, line.find('\0'));
    std::string text(pos < line.size() ? line.substr(pos, len) : std::string_view{});
    return static_cast<std::uint32_t>(std::strtol(text.c_str(), nullptr, 16));
}

// Lines are read in pieces of up to piece_max bytes, ending after a newline.
expected plain_scan(std::string_view in)
{
    expected e;
    while (!in.empty()) {
        std::size_t len = std::min(in.size(), kv::piece_max);
        if (auto nl = in.substr(0, len).find('\n'); nl != std::string_view::npos)
            len = nl + 1;
        std::string_view piece = in.substr(0, len);
        char type = piece.size() > 1 && piece[0] == 'S' ? piece[1] : '?';
        if (type >= '1' && type <= '3') {
            std::size_t address_bytes = static_cast<std::size_t>(type - '0') + 1;
            std::uint32_t count = field(piece, 2, 2), address = field(piece, 4, address_bytes * 2);
            // The count covers the address, the data and the checksum.
            e.lowest = std::min(e.lowest, address);
            e.highest = std::max<std::uint32_t>(e.highest, address + count - address_bytes - 2);
        } else if (type >= '7' && type <= '9') {
            e.end_address = field(piece, 4, static_cast<std::size_t>(11 - (type - '0')) * 2);
            e.what = kv::wrote::ok;
            return e;
        } else if (type != '0' && type != '5') {
            e.what = kv::wrote::syntax;
            return e;
        }
        in.remove_prefix(len);
    }
    return e;
}

int memfile(const char* name)
{
    int fd = memfd_create(name, MFD_CLOEXEC);
    CHECK(fd >= 0);
    return fd;
}

std::string read_back(int fd)
{
    std::string out;
    char buf[65536];
    for (ssize_t n; (n = ::read(fd, buf, sizeof buf)) > 0;)
        out.append(buf, static_cast<std::size_t>(n));
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 6)
        return 0;
    static const int in = memfile("input");
    static const int file_out = memfile("output");

    const unsigned flags = data[0];
    std::int32_t entry;
    std::memcpy(&entry, data + 1, 4);
    std::string input;
    if (flags & 8)
        input = lead_in(block - data[5] * 2);
    input.append(reinterpret_cast<const char*>(data) + 6, size - 6);
    if (input.empty())
        return 0;  // the program stops before the writer on an empty input
    const bool pipe_out = (flags & 4) && input.size() < 32768;

    CHECK(::ftruncate(in, 0) == 0);
    CHECK(::pwrite(in, input.data(), input.size(), 0) == static_cast<ssize_t>(input.size()));
    CHECK(::lseek(in, 1, SEEK_SET) == 1);  // the first byte has been read to tell the kind
    int out = file_out, pipe_fds[2] = {-1, -1};
    if (pipe_out) {
        CHECK(::pipe2(pipe_fds, O_CLOEXEC) == 0);
        out = pipe_fds[1];
    } else {
        CHECK(::ftruncate(out, 0) == 0 && ::lseek(out, 0, SEEK_SET) == 0);
    }

    kv::task t;
    t.code_type = (flags & 1) ? 'R' : 'A';
    if (flags & 2)
        t.entry_point = entry;
    const kv::input_kind kind = input[0] == 'S' ? kv::input_kind::srec : kv::input_kind::aif;
    kv::task resolved = t;
    kv::write_result r = kv::write_loadfile(kind, t, in, input.size(), out);

    std::string got;
    if (pipe_out) {
        ::close(pipe_fds[1]);
        got = read_back(pipe_fds[0]);
        ::close(pipe_fds[0]);
    } else {
        CHECK(::lseek(out, 0, SEEK_SET) == 0);
        got = read_back(out);
    }

    kv::section sec;
    if (kind == kv::input_kind::srec) {
        expected e = plain_scan(input);
        CHECK(r.what == e.what);
        if (e.what != kv::wrote::ok) {
            // A regular output may hold part of the copy; the caller throws it away.
            CHECK(!pipe_out || got.empty());
            return 0;
        }
        if (resolved.entry_point == -1)
            resolved.entry_point = static_cast<std::int32_t>(e.end_address);
        sec = {e.highest - e.lowest + 1, e.lowest};
    } else {
        CHECK(r.what == kv::wrote::ok);
        if (resolved.entry_point == -1)
            resolved.entry_point = 0;
        sec.size = static_cast<std::uint32_t>(input.size());
        sec.start = t.code_type == 'A' ? static_cast<std::uint32_t>(resolved.entry_point) : 0;
        resolved.load_address = static_cast<std::int32_t>(sec.start);
    }
    resolved.supv_stack_size = resolved.user_stack_size = 0;
    CHECK(r.sec.size == sec.size && r.sec.start == sec.start);
    CHECK(t.entry_point == resolved.entry_point);
    const std::string header = kv::load_header(kind, resolved, sec);
    CHECK(header.size() == kv::header_size);
    CHECK(got.size() == header.size() + input.size());
    CHECK(got.compare(0, header.size(), header) == 0);
    CHECK(got.compare(header.size(), std::string::npos, input) == 0);
    return 0;
}
