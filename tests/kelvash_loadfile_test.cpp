// kelvash load files end to end: headers for S-record input (records made by objcopy and by
// hand), the 82-character line pieces, AIF input, the reports, and the failures of input and
// output, with the exact bytes of every file written.
#include <cctype>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <unistd.h>
#include <utility>

#include "kelvash_fixture.h"
#include "loadfile.h"

namespace {

using kt::header;
using kt::msg;
using kt::prog;

class kelvash_load : public kt::fixture {
protected:
    bool pipe_skip_told = false;

    // Runs kelvash on task.s holding input; returns the result and leaves out.ld behind.
    th::result prepare(const std::string& input, std::vector<std::string> args)
    {
        put("task.s", input);
        args.push_back("task.s");
        return run(args);
    }

    void expect_load_file(const std::string& input, const std::vector<std::string>& args,
                          const header& h)
    {
        auto r = prepare(input, args);
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(get("out.ld"), h.text() + input);
        // The same bytes through a pipe, which is written directly: header first. The skip
        // is told once per test, not once per row of its table.
        if (th::windows() && std::exchange(pipe_skip_told, true))
            return;
        SKIP_REST_ON_WINDOWS("no file name for standard output, to write a load file through a pipe");
        ASSERT_EQ(th::system_fault("/dev/stdout"), "") << "the system is at fault, not the kit";
        std::vector<std::string> direct = {"-o", "/dev/stdout"};
        direct.insert(direct.end(), args.begin(), args.end());
        direct.push_back("task.s");
        auto d = run(direct);
        EXPECT_EQ(d.status, 0);
        EXPECT_EQ(d.out, h.text() + input);
    }

    void expect_failure(const std::string& input, const std::string& err)
    {
        std::filesystem::remove(dir / "out.ld");
        auto r = prepare(input, {"-a"});
        EXPECT_EQ(r.err, err);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(others({"task.s"}), std::vector<std::string>{});
    }
};

header srec(std::uint32_t size, std::uint32_t start, std::uint32_t entry)
{
    header h;
    h.size = size;
    h.start = start;
    h.entry = entry;
    return h;
}

TEST_F(kelvash_load, records_made_by_objcopy)
{
    REQUIRE_TOOL("objcopy");
    struct oc_case {
        const char* what;
        std::size_t bytes;
        const char* address;
        const char* srec_len;
        std::vector<std::string> args;
        header h;
    };
    const oc_case cases[] = {
        {"S1 and S9: 0x1000..0x10FF", 256, "0x1000", "16", {"-a"}, srec(0x100, 0x1000, 0x1000)},
        {"-e beats the S9 address", 256, "0x1000", "16", {"-a", "-e", "0x2000"},
         srec(0x100, 0x1000, 0x2000)},
        {"S2 and S8", 1000, "0x123400", "32", {"-a"}, srec(1000, 0x123400, 0x123400)},
        {"S3 and S7 above 0x80000000 keep their value", 256, "0x80001000", "16", {"-a"},
         srec(0x100, 0x80001000, 0x80001000)},
        {"S3 near the top of the address space", 100, "0xFFFFFF00", "16", {"-a"},
         srec(100, 0xFFFFFF00, 0xFFFFFF00)},
        {"many blocks of input", 300000, "0x20000", "32", {"-a"}, srec(300000, 0x20000, 0x20000)},
    };
    std::string image;
    for (std::size_t i = 0; i < 300000; i++)
        image += static_cast<char>((i * 7 + i / 256) & 0xFF);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        put("image.bin", image.substr(0, c.bytes));
        auto oc = th::run_argv(th::which("objcopy"),
                               {"objcopy", "-I", "binary", "-O", "srec", "--change-addresses",
                                c.address, "--srec-len", c.srec_len, path("image.bin"), path("made.s")});
        ASSERT_EQ(oc.status, 0) << oc.err;
        expect_load_file(get("made.s"), c.args, c.h);
    }
}

struct record_case {
    const char* what;
    std::string input;
    header h;
};

TEST_F(kelvash_load, records_written_by_hand)
{
    const std::string s9 = "S9031000EC\n";
    const std::string at1000 = "S1131000000102030405060708090A0B0C0D0E0F64\n";
    const std::string at2000 = "S1132000000102030405060708090A0B0C0D0E0F54\n";
    const std::string line80 = "S32600002000" + std::string(66, 'A') + "5C";  // 80 characters
    std::string tail;
    for (int i = 0; i < 8; i++)
        tail += "copied, never read\n";
    const record_case cases[] = {
        {"records out of order", at2000 + at1000 + s9, srec(0x1010, 0x1000, 0x1000)},
        {"gap between records counts", at1000 + at2000 + s9, srec(0x1010, 0x1000, 0x1000)},
        {"S0 and S5 ignored", "S00600004844521B\n" + at1000 + "S5030001FB\n" + s9,
         srec(0x10, 0x1000, 0x1000)},
        {"S7 gives 8 address digits", at1000 + "S70580001234FF\n", srec(0x10, 0x1000, 0x80001234)},
        {"S8 gives 6 address digits", at1000 + "S804123456FF\n", srec(0x10, 0x1000, 0x123456)},
        {"lines after the end record are copied, not read", at1000 + s9 + "garbage\n\nS4\n" + at2000,
         srec(0x10, 0x1000, 0x1000)},
        {"end record without line end", at1000 + "S9031000EC", srec(0x10, 0x1000, 0x1000)},
        {"no data record", "S9030000FC\n", srec(2, 0xFFFFFFFF, 0)},
        {"CR LF line ends", "S1131000000102030405060708090A0B0C0D0E0F64\r\nS9031000EC\r\n",
         srec(0x10, 0x1000, 0x1000)},
        {"80 characters and CR LF are one piece", line80 + "\r\n" + "S70500002000DA\r\n",
         srec(0x21, 0x2000, 0x2000)},
        {"81 characters and LF are one piece", line80 + "0\n" + "S70500002000DA\n",
         srec(0x21, 0x2000, 0x2000)},
        {"an 82-character piece and the rest as a record", "S0" + std::string(80, '0') + s9,
         srec(2, 0xFFFFFFFF, 0x1000)},
        {"lower-case hex digits", "S1131a2b000102030405060708090A0B0C0D0E0F64\n" + s9,
         srec(0x10, 0x1A2B, 0x1000)},
        {"a NUL ends the line for the fields", std::string("S11\0", 4) + "1000FF\n" + s9,
         srec(0xFFFFFFFE, 0, 0x1000)},
        {"short data record", "S1\n" + s9, srec(0xFFFFFFFD, 0, 0x1000)},
        // Records whose count disagrees with their line, not first in the file and with
        // enough input behind them that their length could be taken from the count.
        {"count longer than the line", "S0030000FC\nS1141000000102030405060708090A0B0C0D0E0F64\n" + s9 + tail,
         srec(0x11, 0x1000, 0x1000)},
        {"line end before the count's end", "S0030000FC\nS11310000102030405060708\nS9032000DC0000000\n" + s9 + tail,
         srec(0x10, 0x1000, 0x2000)},
        {"CR alone where the line end should be", "S0030000FC\n" + at1000.substr(0, 42) + "\rS5030001FB\n" + s9 + tail,
         srec(0x10, 0x1000, 0x1000)},
        {"same count, other record type", "S0030000FC\n" + at1000 + "S2132000000102030405060708090A0B0C0D0E0F\n" + s9 + tail,
         srec(0x1FF00F, 0x1000, 0x1000)},
        {"a signed address field as strtol reads it", "S113-0010001020304050607\n" + s9,
         srec(0x10, 0xFFFFFFFF, 0x1000)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        expect_load_file(c.input, {"-a"}, c.h);
    }
}

TEST_F(kelvash_load, scan_failures_leave_no_file)
{
    const std::string at1000 = "S1131000000102030405060708090A0B0C0D0E0F64\n";
    const std::string syntax = msg("Syntax error in file");
    const std::string eof = "task.s: End of file before an end record\n";
    const record_case cases[] = {
        {"empty line", at1000 + "\n" + at1000, {}},
        {"lower-case s", at1000 + "s9031000EC\n", {}},
        {"S4", "S4030000FC\n", {}},
        {"S6", at1000 + "S6030000FC\n", {}},
        {"a letter as record type", "SX\n", {}},
        {"S alone at the end", at1000 + "S", {}},
        {"NUL as record type", std::string("S\0", 2) + "9031000EC\n", {}},
        {"83 characters split into pieces", "S0" + std::string(81, '0') + "\nS9031000EC\n", {}},
        {"81 characters and CR LF split", "S0" + std::string(79, '0') + "\r\nS9031000EC\n", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        expect_failure(c.input, syntax);
    }
    const record_case eofs[] = {
        {"no end record", at1000, {}},
        {"header record only", "S00600004844521B\n", {}},
    };
    for (const auto& c : eofs) {
        SCOPED_TRACE(c.what);
        expect_failure(c.input, eof);
    }
    SCOPED_TRACE("empty input");
    expect_failure("", "task.s: File is empty\n");
}

// Lines that cross the boundary between two blocks of reading are pieced as anywhere else.
TEST_F(kelvash_load, pieces_across_block_boundaries)
{
    const std::string data = "S1131000000102030405060708090A0B0C0D0E0F64\n";  // 43 bytes
    const std::string split = "S0" + std::string(80, '0') + "S9031000EC\n";
    const std::string broken = "S0" + std::string(81, '0') + "S9031000EC\n";
    for (long shift : {-130L, -83L, -82L, -81L, -43L, -42L, -2L, -1L, 0L, 1L, 41L, 82L}) {
        SCOPED_TRACE(shift);
        // Filler records of 50 bytes, one shorter one, then the data record and the line
        // that a piece boundary splits, starting shift bytes from 256 KiB.
        long target = 262144 + shift - static_cast<long>(data.size());
        long n = (target - 20) / 50;
        std::string input;
        for (long i = 0; i < n; i++)
            input += "S0" + std::string(47, '1') + "\n";
        input += "S0" + std::string(static_cast<std::size_t>(target - 50 * n - 3), '2') + "\n";
        ASSERT_EQ(input.size(), static_cast<std::size_t>(target));
        expect_load_file(input + data + split, {"-a"}, srec(0x10, 0x1000, 0x1000));
        expect_failure(input + data + broken, msg("Syntax error in file"));
    }
}

TEST_F(kelvash_load, aif_input_is_copied_whole)
{
    std::string image = "\x7f" "AIF";
    for (int i = 0; i < 600; i++)
        image += static_cast<char>(i & 0xFF);  // NUL, CR and LF bytes go through unchanged
    struct aif_case {
        const char* what;
        std::vector<std::string> args;
        std::string tag;
        std::uint32_t entry, start;
    };
    const aif_case cases[] = {
        {"-a alone", {"-a"}, "_AIFA", 0, 0},
        {"-a -e", {"-a", "-e", "0x8000"}, "_AIFA", 0x8000, 0x8000},
        {"-a -l", {"-a", "-l", "0x8000"}, "_AIFA", 0x8000, 0x8000},
        {"-a -e -l", {"-a", "-e", "0x100", "-l", "0x8000"}, "_AIFA", 0x100, 0x8000},
        {"-r -l", {"-r", "-l", "0x8000"}, "_AIFR", 0x8000, 0},
        {"-r -e", {"-r", "-e", "0x8000"}, "_AIFR", 0x8000, 0},
        {"-l above 0x80000000 kept", {"-a", "-l", "0x80000000"}, "_AIFA", 0x80000000, 0x80000000},
        {"-l -1 is not given", {"-a", "-l", "-1"}, "_AIFA", 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        header h;
        h.tag = c.tag;
        h.entry = c.entry;
        h.start = c.start;
        h.size = static_cast<std::uint32_t>(image.size());
        auto r = prepare(image, c.args);
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(get("out.ld"), h.text() + image);
    }
    // One byte, and a first byte that is a lower-case s: both AIF.
    for (const std::string& tiny : {std::string("\0", 1), std::string("s")}) {
        header h;
        h.tag = "_AIFA";
        h.size = 1;
        expect_load_file(tiny, {"-a"}, h);
    }
}

// An ELF file or Intel hex text would go through as an AIF image the kernel cannot run: it is
// refused before the load file is opened, and what zorbin makes of it is taken. Hex text that
// zorbin does not read as Intel records, and a file too short for the ELF magic, are AIF.
TEST_F(kelvash_load, elf_and_intel_hex_are_refused_and_look_alikes_are_aif)
{
    REQUIRE_TOOL("srec_cat");
    auto sc = th::run_argv(th::which("srec_cat"), {"srec_cat", th::sample("task.srec"), "-o",
                                                   path("made.hex"), "-intel"});
    ASSERT_EQ(sc.status, 0) << sc.err;
    const std::string hex = get("made.hex");
    std::string crlf, lower;
    for (char c : hex) {
        crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
        lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    // 255 data bytes with CR LF: the longest first line there is.
    const std::string record255 = ":FF000000" + std::string(510, '0') + "01";
    const std::string elf = "is an ELF file", intel = "is Intel hex text";
    struct {
        const char* what;
        std::string input;
        std::string refused;  // empty: copied as an AIF image
        bool data = true;     // zorbin refuses hex text without data
    } cases[] = {
        {"ELF executable", th::read_file(th::sample("app.elf")), elf},
        {"Intel hex by srec_cat", hex, intel},
        {"the same with CR LF", crlf, intel},
        {"the same in lower case", lower, intel},
        {"the longest record", record255 + "\r\n:00000001FF\r\n", intel},
        {"an end record with no line end", ":00000001FF", intel, false},
        {"an end record and 0x1A", ":00000001FF\x1A", intel, false},
        {"ELF magic cut short", "\x7f" "EL", ""},
        {"wrong checksum", ":0000000100\n", ""},
        {"a count the line does not hold", ":01000000FF\n", ""},
        {"record type 06", ":00000006FA\n", ""},
        {"type 04 without its value", ":00000004FC\n", ""},
        {"a letter that is no hex digit", ":01000000g0FF\n", ""},
        {"the longest record and a CR alone", record255 + "\r:00000001FF\r\n", ""},
        {"a blank line first", "\n" + hex, ""},
        {"a byte order mark first", "\xEF\xBB\xBF" + hex, ""},
        {"0x1A before the line end", ":00000001FF\x1A\n", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        put("out.ld", "previous");
        if (c.refused.empty()) {
            header h;
            h.tag = "_AIFA";
            h.size = static_cast<std::uint32_t>(c.input.size());
            expect_load_file(c.input, {"-a"}, h);
            continue;
        }
        put("task.x", c.input);
        for (const char* out : {"out.ld", "new.ld"}) {
            auto r = run({"-a", "-o", out, "task.x"});
            EXPECT_EQ(r.err, msg("task.x " + c.refused + ", not an AIF image or S-records: "
                                 "convert it with zorbin -motorola32 first"));
            EXPECT_EQ(r.out, "");
            EXPECT_EQ(r.status, 1);
        }
        EXPECT_EQ(get("out.ld"), "previous");
        EXPECT_EQ(others({"task.x", "out.ld", "task.s", "made.hex"}), std::vector<std::string>{});
        // The advice holds: zorbin turns it into S-records that go through.
        if (!c.data)
            continue;
        auto z = th::run("zorbin", {"-motorola32", "task.x", "task.s"}, in_dir());
        ASSERT_EQ(z.status, 0) << z.err;
        EXPECT_EQ(run({"-a", "task.s"}).status, 0);
        EXPECT_EQ(get("out.ld").substr(0, 5), "SRECA");
    }
}

TEST_F(kelvash_load, input_that_is_not_the_size_it_was_is_refused)
{
    // A file that grows or shrinks while it is copied would give a header whose size does
    // not match the bytes behind it: the writer copies exactly the size it was given.
    const std::string image = "\x7f" "AIF" + std::string(5000, '\x5A');
    for (bool srec : {false, true}) {
        const std::string input = srec ? kt::small_srec : image;
        const std::uint64_t size = input.size();
        for (std::uint64_t stated : {size - 1, size + 1, size}) {
            SCOPED_TRACE((srec ? "S-records, stated " : "AIF, stated ") + std::to_string(stated));
            put("in", input);
            int in = ::open(path("in").c_str(), O_RDONLY);
            int out = ::open(path("out").c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
            ASSERT_GE(in, 0);
            ASSERT_GE(out, 0);
            ASSERT_EQ(::lseek(in, 1, SEEK_SET), 1);
            kv::task t;
            t.code_type = 'A';
            auto kind = srec ? kv::input_kind::srec : kv::input_kind::aif;
            auto r = kv::write_loadfile(kind, t, in, stated, out);
            ::close(in);
            ::close(out);
            EXPECT_EQ(r.what, stated == size ? kv::wrote::ok : kv::wrote::in_changed);
        }
    }
}

TEST_F(kelvash_load, reports_follow_the_load_file)
{
    struct report_case {
        const char* what;
        std::string input;
        std::vector<std::string> args;
        std::string out;
    };
    const std::string image = "\x7f" "AIF-image";
    const report_case cases[] = {
        {"S-records, absolute, every word set",
         kt::small_srec,
         {"-v", "-a", "-n", "AB", "-p", "5", "-s", "256", "-u", "128", "-c", "GF", "-m", "NTAS",
          "-o", "task.ld"},
         "Object file type:\t\tMotorola S-Records\n"
         "Code type:\t\t\tAbsolute\n"
         "Number of sections:\t\t1\n"
         "\tSection start:\t\t0x1000\n"
         "\tSection size:\t\t32 bytes\n"
         "\nTask Name:\t\t\tAB\n"
         "Task Entry Point:\t\t0x1000\n"
         "Supervisor Stack Size:\t\t256 bytes\n"
         "User Stack Size:\t\t128 bytes\n"
         "Task Priority:\t\t\t5\n"
         "Task Creation Flags:\t\tGlobal, FPU\n"
         "Task Start Mode:\t\tNo Preempt, TSlice, Dsbl ASR, Supervisor\n"
         "Output File:\t\t\ttask.ld\n"},
        {"S-records, relocatable, every word clear, -v twice",
         "S9030000FC\n",
         {"-r", "-v", "-v", "-e", "0xabcdef"},
         "Object file type:\t\tMotorola S-Records\n"
         "Code type:\t\t\tPosition Independent\n"
         "Number of sections:\t\t1\n"
         "\tSection start:\t\t0xffffffff\n"
         "\tSection size:\t\t2 bytes\n"
         "\nTask Name:\t\t\tLDBL\n"
         "Task Entry Point:\t\t0xABCDEF\n"
         "Supervisor Stack Size:\t\t0 bytes\n"
         "User Stack Size:\t\t0 bytes\n"
         "Task Priority:\t\t\t0\n"
         "Task Creation Flags:\t\tLocal, No FPU\n"
         "Task Start Mode:\t\tPreempt, No TSlice, Enbl ASR, User\n"
         "Output File:\t\t\tout.ld\n"},
        {"a section of 2 GiB and more is counted unsigned",
         "S30900000000000000F6\nS3099000000F000000F6\nS70500000000FA\n",
         {"-av"},
         "Object file type:\t\tMotorola S-Records\n"
         "Code type:\t\t\tAbsolute\n"
         "Number of sections:\t\t1\n"
         "\tSection start:\t\t0x0\n"
         "\tSection size:\t\t2415919123 bytes\n"
         "\nTask Name:\t\t\tLDBL\n"
         "Task Entry Point:\t\t0x0\n"
         "Supervisor Stack Size:\t\t0 bytes\n"
         "User Stack Size:\t\t0 bytes\n"
         "Task Priority:\t\t\t0\n"
         "Task Creation Flags:\t\tLocal, No FPU\n"
         "Task Start Mode:\t\tPreempt, No TSlice, Enbl ASR, User\n"
         "Output File:\t\t\tout.ld\n"},
        {"AIF, absolute, load address",
         image,
         {"-a", "-v", "-l", "0xABCD0", "-n", "T1", "-c", "F", "-m", "T"},
         "Object file type:\t\tARM AIF Binary\n"
         "Code type:\t\t\tAbsolute\n"
         "Number of sections:\t\t1\n"
         "\tSection start:\t\t0xabcd0\n"
         "\tSection size:\t\t10 bytes\n"
         "\nTask Name:\t\t\tT1\n"
         "Task Entry Point:\t\t0xABCD0\n"
         "Supervisor Stack Size:\t\t0 bytes\n"
         "User Stack Size:\t\t0 bytes\n"
         "Task Priority:\t\t\t0\n"
         "Task Creation Flags:\t\tLocal, FPU\n"
         "Task Start Mode:\t\tPreempt, TSlice, Enbl ASR, User\n"
         "Output File:\t\t\tout.ld\n"},
        {"AIF, relocatable",
         image,
         {"-r", "-v", "-e", "0x10", "-l", "0x8000", "-c", "G", "-m", "NA"},
         "Object file type:\t\tARM AIF Binary\n"
         "Code type:\t\t\tSelf Relocating\n"
         "Number of sections:\t\t1\n"
         "\tSection start:\t\t0x0\n"
         "\tSection size:\t\t10 bytes\n"
         "\nTask Name:\t\t\tLDBL\n"
         "Task Entry Point:\t\t0x10\n"
         "Supervisor Stack Size:\t\t0 bytes\n"
         "User Stack Size:\t\t0 bytes\n"
         "Task Priority:\t\t\t0\n"
         "Task Creation Flags:\t\tGlobal, No FPU\n"
         "Task Start Mode:\t\tNo Preempt, No TSlice, Dsbl ASR, User\n"
         "Output File:\t\t\tout.ld\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto r = prepare(c.input, c.args);
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.status, 0);
    }
}

// Windows has no /dev/full.
TEST_F(kelvash_load, linux_only_write_errors_fail_the_run)
{
    REQUIRE_SYSTEM_FILE("/dev/full");
    for (const std::string& input : {kt::small_srec, std::string("AIF")}) {
        SCOPED_TRACE(input);
        auto r = prepare(input, {"-a", "-o", "/dev/full"});
        EXPECT_EQ(r.err, "/dev/full: No space left on device\n");
        EXPECT_EQ(r.status, 1);
    }
    // The load file is complete before the report fails to go out.
    put("task.s", kt::small_srec);
    th::options o;
    o.stdout_path = "/dev/full";
    auto r = run({"-av", "task.s"}, o);
    EXPECT_EQ(r.err, msg("write error: No space left on device"));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(get("out.ld"), srec(0x20, 0x1000, 0x1000).text() + kt::small_srec);
}

TEST_F(kelvash_load, load_file_to_a_device)
{
    auto r = prepare(kt::small_srec, {"-a", "-o", th::windows() ? "NUL" : "/dev/null"});
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(others({"task.s"}), std::vector<std::string>{});
}

// Sizes past 2 GiB: a 32-bit file offset, as the Windows C runtime's own is, would wrap. Linux
// offsets are 64 bits wide throughout, and the copy would take seconds there.
TEST_F(kelvash_load, windows_only_an_aif_input_of_3_gib_is_copied_whole)
{
    {
        std::ofstream f(dir / "big.aif", std::ios::binary);
        f << "AIF";
        f.seekp((std::streamoff{3} << 30) - 1);
        f.put('\0');
    }
    auto r = run({"-av", "-o", "NUL", "big.aif"});
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("\tSection size:\t\t3221225472 bytes\n"), std::string::npos) << r.out;
}

// A plain create fails on a read-only file, even the owner's own. Run as the superuser, the
// case is run by a user with no privilege, who owns the folder and both files: the superuser
// passes every permission on a Linux system, and there the file is written.
TEST_F(kelvash_load, a_read_only_load_file)
{
    namespace fs = std::filesystem;
    put("task.s", kt::small_srec);
    put("ro.ld", "previous");
    fs::permissions(dir / "ro.ld", fs::perms::owner_read);
    const bool root = th::privileged() && !th::windows();
    th::options o;
    if (root) {
        const unsigned user = 65534;
        o.run_as = user;
        for (const fs::path& p : {dir, dir / "task.s", dir / "ro.ld"})
            ASSERT_EQ(::chown(p.c_str(), user, user), 0) << p;
    }
    auto r = run({"-a", "-o", "ro.ld", "task.s"}, o);
    EXPECT_EQ(r.err, "ro.ld: Permission denied\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(get("ro.ld"), "previous");
    EXPECT_EQ(others({"task.s", "ro.ld"}), std::vector<std::string>{});
    if (root) {
        r = run({"-a", "-o", "ro.ld", "task.s"});
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(get("ro.ld"), srec(0x20, 0x1000, 0x1000).text() + kt::small_srec);
        EXPECT_EQ(others({"task.s", "ro.ld"}), std::vector<std::string>{});
    }
    fs::permissions(dir / "ro.ld", fs::perms::owner_all);
}

}  // namespace
