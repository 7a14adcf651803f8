// zorbin's checksums end to end: every kind -crc takes against Python's crcmod and hashlib and
// against the check values the manual page and the guide give, several in one run, -verify,
// addresses given as symbols against GNU binutils, and what -info shows of them.
#include "image/sum.h"
#include "harness.h"

#include <map>
#include <random>
#include <regex>
#include <sstream>

namespace {

namespace fs = std::filesystem;

class zorbin_checks : public th::tmpdir {
protected:
    void SetUp() override
    {
        th::tmpdir::SetUp();
        // samples/app.elf: 0x08000000-0x0800005B and 0x08000800-0x08000807.
        fs::copy_file(th::sample("app.elf"), path("app.elf"));
    }
    th::result zorbin(const std::vector<std::string>& args) { return th::run("zorbin", args, in_dir()); }
    th::result tool(const std::vector<std::string>& argv, const std::string& in = {})
    {
        th::options o = in_dir();
        o.in = in;
        return th::run_argv(th::which(argv[0]), argv, o);
    }
    std::string hex_of(const std::string& bytes)
    {
        std::string s;
        for (unsigned char c : bytes) {
            s += "0123456789abcdef"[c >> 4];
            s += "0123456789abcdef"[c & 15];
        }
        return s;
    }
};

// Debian's crcmod belongs to Debian's python3, which one of the user's own may hide on PATH.
std::string python_with_crcmod()
{
    for (const std::string& py : {th::which("python3"), std::string("/usr/bin/python3")})
        if (th::run_argv(py, {py, "-c", "import crcmod"}).status == 0)
            return py;
    return {};
}

// The field each kind stores over data.bin, as Python computes it: crcmod's own table of
// catalogue CRCs by its names where it has them, else the model's numbers; hashlib; sums.
// Each input line "KIND HEX" gives back "KIND ok", or what was wanted.
constexpr const char* oracle = R"(
import sys, hashlib, crcmod, crcmod.predefined as P
named = {'crc8': 'crc-8', 'crc8-maxim': 'crc-8-maxim', 'crc16': 'xmodem',
         'crc16-xmodem': 'xmodem', 'crc16-ibm-3740': 'crc-ccitt-false',
         'crc16-ccitt-false': 'crc-ccitt-false', 'crc16-arc': 'crc-16', 'crc16-modbus': 'modbus',
         'crc16-kermit': 'kermit', 'crc32': 'crc-32', 'crc32be': 'crc-32',
         'crc32-mpeg2': 'crc-32-mpeg', 'stm32': 'crc-32-mpeg', 'crc32-bzip2': 'crc-32-bzip2',
         'crc32c': 'crc-32c', 'crc32-cksum': 'posix'}
crc64 = {'crc64-xz': (True, 0xFFFFFFFFFFFFFFFF), 'crc64-ecma-182': (False, 0)}
d = open('data.bin', 'rb').read()
def reflect(v, w):
    return int(format(v, '0%db' % w)[::-1], 2)
def field(word):
    word = word.lower()
    big = word.endswith('/be') or word == 'crc32be'
    w = word[:-3] if big and word != 'crc32be' else word
    if w == 'sha256':
        return hashlib.sha256(d).digest()
    if w.startswith('sum'):
        bits = int(w[3:].split('-')[0])
        s = sum(d) % (1 << bits)
        s = -s % (1 << bits) if w.endswith('-neg') else ~s % (1 << bits) if w.endswith('-not') else s
        return s.to_bytes(bits // 8, 'big' if big else 'little')
    if w.startswith('crc:'):
        width, poly, init, refin, refout, xo = w[4:].split(':')
        width, poly, init, xo, rev = int(width), int(poly, 0), int(init, 0), int(xo, 0), refin == 'true'
        f = crcmod.mkCrcFun(poly | 1 << width, initCrc=(reflect(init, width) if rev else init) ^ xo,
                            rev=rev, xorOut=xo)
        n = (width + 7) // 8
    elif w in crc64:
        rev, xo = crc64[w]
        f, n = crcmod.mkCrcFun(0x142F0E1EBA9EA3693, initCrc=0, rev=rev, xorOut=xo), 8
    else:
        c = P.PredefinedCrc(named[w])
        f, n = P.mkPredefinedCrcFun(named[w]), c.digest_size
    data = b''.join(d[i:i + 4][::-1] for i in range(0, len(d), 4)) if w == 'stm32' else d
    return f(data).to_bytes(n, 'big' if big else 'little')
for line in sys.stdin:
    word, got = line.split()
    want = field(word).hex()
    print(word, 'ok' if want == got else 'want ' + want)
)";

// Every kind of the table, some stored big-endian, and random models, each stored by a run of
// zorbin after the bytes it covers; the field read back from the raw file.
TEST_F(zorbin_checks, every_kind_as_crcmod_and_hashlib_compute_it)
{
    const std::string py = python_with_crcmod();
    REQUIRE_THAT(!py.empty(), "python3 with crcmod (Debian python3-crcmod) is not installed");
    std::mt19937_64 rng(26);
    std::string data(4000, '\0');
    for (char& c : data)
        c = static_cast<char>(rng() >> 56);
    th::write_file(path("data.bin"), data);
    std::vector<std::string> kinds;
    for (const zb::kind_row& k : zb::checksum_kinds)
        kinds.emplace_back(k.word);
    for (const char* be : {"crc8/be", "crc16-modbus/be", "crc32c/be", "crc64-xz/be", "sum16-neg/be",
                           "SUM32-NOT/BE", "CRC32-BZIP2"})
        kinds.emplace_back(be);
    for (int k = 0; k < 10; ++k) {
        static constexpr unsigned widths[] = {8, 16, 24, 32, 64};
        const unsigned w = widths[k % 5];
        const std::uint64_t all = w == 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << w) - 1;
        std::ostringstream m;
        m << "crc:" << w << ":0x" << std::hex << ((rng() & all) | 1) << ":0x" << (rng() & all)
          << (k % 2 ? ":true:true:0x" : ":false:false:0x") << (rng() & all) << (k % 3 ? "" : "/be");
        kinds.push_back(m.str());
    }
    std::string rows;
    for (const std::string& k : kinds) {
        SCOPED_TRACE(k);
        const auto run = zorbin({"-raw", "-bin", "data.bin", "out.bin", "-crc", k, "4000", "-crcrange", "0", "4000"});
        ASSERT_EQ(run.status, 0) << run.out;
        const std::string out = th::read_file(path("out.bin"));
        ASSERT_GT(out.size(), data.size());
        EXPECT_EQ(out.substr(0, data.size()), data);
        rows += k + " " + hex_of(out.substr(data.size())) + "\n";
    }
    th::options o;
    o.in = rows;
    const auto theirs = th::run_argv(py, {py, "-c", oracle}, [&] { o.cwd = dir.string(); return o; }());
    ASSERT_EQ(theirs.status, 0) << theirs.err;
    std::istringstream lines(theirs.out);
    std::size_t n = 0;
    for (std::string line; std::getline(lines, line); ++n) {
        ASSERT_LT(n, kinds.size());
        EXPECT_EQ(line, kinds[n] + " ok");
    }
    EXPECT_EQ(n, kinds.size());
}

// The check value of every named kind over "123456789" ("12345678" for a kind fed words), as
// the core computes it, is the one the manual page's table and the guide's give, and the
// catalogue name stands beside it.
TEST(zorbin_checks_docs, each_kinds_check_value_stands_in_the_manual_and_the_guide)
{
    const std::string page = th::read_file(FWKIT_SOURCE_DIR "/man/zorbin.1");
    const std::string guide = th::read_file(FWKIT_SOURCE_DIR "/docs/zorbin.md");
    const std::size_t table = page.find("\nKind\tChecksum\tBytes\tCheck\n");
    ASSERT_NE(table, std::string::npos);
    const std::string rows = page.substr(table, page.find("\n.TE\n", table) - table);
    for (const zb::kind_row& k : zb::checksum_kinds) {
        SCOPED_TRACE(k.word);
        const std::string_view check = k.kind.words ? "12345678" : "123456789";
        zb::checksum_state s = zb::checksum_start(k.kind);
        zb::checksum_add(s, std::span(reinterpret_cast<const unsigned char*>(check.data()), check.size()));
        const std::string value = zb::value_text(k.kind, zb::checksum_final(s));
        EXPECT_EQ(value, k.check);
        std::string word(k.word);
        word = std::regex_replace(word, std::regex("-"), "\\-");
        const std::string bytes = std::to_string(zb::field_size(k.kind));
        if (k.kind.fam == zb::family::sha256) {
            EXPECT_NE(rows.find("\n" + word + "\tSHA-256\t" + bytes + "\tsee below"), std::string::npos);
            EXPECT_NE(page.find("\n" + value + ".\n"), std::string::npos);
        } else if (k.kind.fam == zb::family::crc) {
            const std::string title(k.title.substr(0, k.title.find_first_of(", ")));
            EXPECT_NE(rows.find("\n" + word + "\t" + title + "\t" + bytes + "\t" + value + "\n"),
                      std::string::npos);
        } else {
            EXPECT_NE(rows.find("\n" + word + "\t"), std::string::npos);
            EXPECT_NE(rows.find("\t" + bytes + "\t" + value + "\n", rows.find("\n" + word + "\t")),
                      std::string::npos);
        }
        const std::regex row("\n\\| `" + std::string(k.word) + "` \\| [^|]+ \\| " + bytes + " \\| " +
                             value + "[ |]");
        EXPECT_TRUE(std::regex_search(guide, row)) << "docs/zorbin.md";
    }
}

// Checksums in command-line order, a later one over an earlier one's field, as zlib,
// binascii and hashlib compute them; -verify of the file made is silent, and of one with a
// byte changed names every checksum, its field's bytes and what it should hold.
TEST_F(zorbin_checks, several_checksums_and_their_verify)
{
    REQUIRE_TOOL("python3");
    std::mt19937_64 rng(7);
    std::string image(256, '\0');
    for (char& c : image)
        c = static_cast<char>(rng() >> 56);
    image += std::string(38, '\xFF');  // placeholders: crc16 at 256, crc32 at 258, sha256 at 262
    th::write_file(path("fw.bin"), image);
    const std::vector<std::string> sums{"-crc", "crc16", "256", "-crcrange", "0", "256",
                                        "-crc", "crc32", "258", "-crcrange", "0", "258",
                                        "-crc", "sha256", "262", "-crcrange", "0", "262"};
    auto with = [&](std::vector<std::string> head) {
        head.insert(head.end(), sums.begin(), sums.end());
        return head;
    };
    auto made = zorbin(with({"-raw", "-bin", "fw.bin", "fw.out"}));
    ASSERT_EQ(made.status, 0) << made.out;
    EXPECT_EQ(made.out + made.err, "");
    const std::string check =
        "import zlib,binascii,hashlib,sys;d=open(sys.argv[1],'rb').read();"
        "print(d[256:258].hex(),binascii.crc_hqx(d[:256],0).to_bytes(2,'little').hex());"
        "print(d[258:262].hex(),zlib.crc32(d[:258]).to_bytes(4,'little').hex());"
        "print(d[262:294].hex(),hashlib.sha256(d[:262]).hexdigest())";
    auto py = tool({"python3", "-c", check, "fw.out"});
    ASSERT_EQ(py.status, 0) << py.err;
    std::istringstream lines(py.out);
    std::vector<std::vector<std::string>> fields;
    for (std::string line; std::getline(lines, line);)
        fields.push_back(th::words(line));
    ASSERT_EQ(fields.size(), 3u);
    for (const auto& f : fields)
        EXPECT_EQ(f[0], f[1]);

    auto same = zorbin(with({"-verify", "-bin", "fw.out"}));
    EXPECT_EQ(same.status, 0);
    EXPECT_EQ(same.out + same.err, "");
    EXPECT_FALSE(fs::exists(path("fw.out.tmp")));

    std::string changed = th::read_file(path("fw.out"));
    changed[100] ^= 0x40;
    th::write_file(path("changed.bin"), changed);
    py = tool({"python3", "-c", check, "changed.bin"});
    std::istringstream again(py.out);
    std::vector<std::vector<std::string>> now;
    for (std::string line; std::getline(again, line);)
        now.push_back(th::words(line));
    ASSERT_EQ(now.size(), 3u);
    auto number = [](const std::string& le) {  // little-endian field bytes as 0x and digits
        std::string s = "0x";
        for (std::size_t i = le.size(); i >= 2; i -= 2)
            s += le.substr(i - 2, 2);
        for (char& c : s)
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        s[1] = 'x';
        return s;
    };
    auto differ = zorbin(with({"-verify", "-bin", "changed.bin", "out.hex", "-intel32"}));
    EXPECT_EQ(differ.out, th::lines({"crc16 at 0x00000100: stored " + number(now[0][0]) + ", computed " + number(now[0][1]),
                                     "crc32 at 0x00000102: stored " + number(now[1][0]) + ", computed " + number(now[1][1]),
                                     "sha256 at 0x00000106: stored " + now[2][0] + ", computed " + now[2][1]}));
    EXPECT_EQ(differ.status, 1);
    EXPECT_FALSE(fs::exists(path("out.hex")));

    // -info says what each field held and whether that is its value.
    auto info = zorbin(with({"-info", "-verify", "-bin", "changed.bin"}));
    EXPECT_EQ(info.status, 1);
    EXPECT_NE(info.out.find("before crc16 at 0x00000100: " + number(now[0][0]) + ", not equal to the value\r\n"), std::string::npos) << info.out;
    EXPECT_NE(info.out.find("before sha256 at 0x00000106: " + now[2][0] + ", not equal to the value\r\n"), std::string::npos);
    info = zorbin(with({"-info", "-bin", "fw.bin"}));
    EXPECT_EQ(info.status, 0);
    EXPECT_NE(info.out.find("before crc32 at 0x00000102: 0xFFFFFFFF, not equal to the value\r\n"), std::string::npos);
    info = zorbin(with({"-info", "-verify", "-bin", "fw.out"}));
    EXPECT_EQ(info.status, 0);
    EXPECT_NE(info.out.find("before crc32 at 0x00000102: " + number(fields[1][0]) + ", equal to the value\r\n"), std::string::npos);
}

// What -info shows of a run with symbols, a field and a range that drops pieces whole.
TEST_F(zorbin_checks, info_shows_symbols_fields_and_dropped_pieces)
{
    auto r = zorbin({"-info", "app.elf", "-range", "@_sidata", "0x7AC", "-fill", "0", "-entry", "@reset",
                     "-crc", "crc16/be", "@_sidata+8", "-crcrange", "@_sidata", "8"});
    EXPECT_EQ(r.err, th::lines({"warning: -range drops .vectors of app.elf (16 bytes at 0x08000000)",
                                "warning: -range drops .text of app.elf (44 bytes at 0x08000010)",
                                "warning: -range drops .rodata of app.elf (24 bytes at 0x0800003C)",
                                "warning: -range drops .config of app.elf (8 bytes at 0x08000800)"}));
    EXPECT_EQ(r.out, th::lines({
        "app.elf: ELF32 little-endian, entry point 0x08000011",
        "block  first       last        bytes",
        "    1  0x08000054  0x080007FF   1964",
        "piece     run         load        offset      bytes  placed by",
        ".vectors  0x08000000  0x08000000  0x00001000     16  segment 0, dropped by -range",
        ".text     0x08000010  0x08000010  0x00001010     44  segment 0, dropped by -range",
        ".rodata   0x0800003C  0x0800003C  0x0000103C     24  segment 0, dropped by -range",
        ".data     0x20000000  0x08000054  0x00002000      8  segment 1",
        "crc16/be  0x0800005C  0x0800005C  -               2  -crc",
        "fill      0x0800005E  0x0800005E  -            1954  -fill 0x0",
        ".config   0x08000800  0x08000800  0x00002800      8  segment 2, dropped by -range",
        "symbol _sidata = 0x08000054",
        "symbol reset = 0x08000011, as -entry takes it",
        "range  0x08000054 to 0x080007FF, 92 bytes dropped",
        "fill   0x0, 1 gaps, 1956 bytes",
        // CRC-16/XMODEM of .data's 44 33 22 11 01 02 03 04, as binascii.crc_hqx gives it
        "crc    crc16/be over 0x08000054 to 0x0800005B = 0x65F2, stored big-endian at 0x0800005C, "
        "in place of 2 bytes",
        "before crc16/be at 0x0800005C: 0x0000, not equal to the value",
    })) << r.out;
}

// Each symbol of app.elf as arm-none-eabi-nm shows it, taken by -base (the address of its
// first byte: a Thumb function's bit 0 cleared), and as readelf shows its value, taken by
// -entry (bit 0 kept).
TEST_F(zorbin_checks, symbols_as_nm_and_readelf_show_them)
{
    REQUIRE_TOOL("arm-none-eabi-nm");
    REQUIRE_TOOL("arm-none-eabi-readelf");
    std::map<std::string, std::string> value;  // readelf's Value of each named symbol
    std::istringstream table(tool({"arm-none-eabi-readelf", "-sW", "app.elf"}).out);
    for (std::string line; std::getline(table, line);) {
        const auto w = th::words(line);
        if (w.size() == 8 && w[0].back() == ':' && w[3] != "SECTION" && w[3] != "FILE")
            value[w[7]] = w[1];
    }
    auto upper = [](std::string s) {
        for (char& c : s)
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        return s;
    };
    std::istringstream nm(tool({"arm-none-eabi-nm", "app.elf"}).out);
    int rows = 0, thumb = 0;
    for (std::string line; std::getline(nm, line); ++rows) {
        const auto w = th::words(line);  // "08000010 T reset"
        ASSERT_EQ(w.size(), 3u) << line;
        SCOPED_TRACE(line);
        ASSERT_EQ(value.count(w[2]), 1u);
        thumb += value[w[2]] != w[0];
        auto base = zorbin({"-info", "app.elf", "-base", "@" + w[2]});
        EXPECT_EQ(base.status, 0) << base.out;
        EXPECT_NE(base.out.find("\r\nsymbol " + w[2] + " = 0x" + upper(w[0]) + "\r\n"), std::string::npos)
            << base.out;
        auto entry = zorbin({"-info", "app.elf", "-entry", "@" + w[2]});
        EXPECT_TRUE(entry.out.starts_with("app.elf: ELF32 little-endian, entry point 0x" +
                                          upper(value[w[2]]) + "\r\n")) << entry.out;
    }
    EXPECT_GE(rows, 10);
    EXPECT_EQ(thumb, 2) << "the Thumb functions reset and fault";
}

// A symbol that cannot give a number stops the run before anything is written; a name given
// twice with one value is that value.
TEST_F(zorbin_checks, symbols_that_give_no_number_write_nothing)
{
    REQUIRE_TOOL("arm-none-eabi-objcopy");
    // dup.elf: a second table elsewhere, as two files of one link may each have a local one.
    for (const std::vector<std::string>& c :
         {std::vector<std::string>{"--add-symbol", "table=0x08000800,local", "app.elf", "dup.elf"},
          {"--add-symbol", "table=0x0800003C,local", "app.elf", "same.elf"},
          {"--strip-all", "app.elf", "bare.elf"}}) {
        std::vector<std::string> argv{"arm-none-eabi-objcopy"};
        argv.insert(argv.end(), c.begin(), c.end());
        ASSERT_EQ(tool(argv).status, 0);
    }
    fs::copy_file(th::sample("app.aif"), path("app.aif"));
    struct row {
        std::vector<std::string> args;  // between -intel32 and o.hex
        std::string out;
    };
    const row rows[] = {
        {{"app.elf", "-crc", "crc32", "@nosuch"}, "No symbol nosuch in app.elf"},
        {{"dup.elf", "-crc", "sum8", "@table"},
         "Symbol table in dup.elf has two values, 0x800003C and 0x8000800"},
        {{"bare.elf", "-base", "@reset"}, "No symbol reset in bare.elf, which has no symbol table"},
        {{"-bin", "app.elf", "-entry", "@reset"},
         "No symbol reset in app.elf, which is not read as an ELF file"},
        {{"app.aif", "-addbin", "app.elf", "@reset"},
         "No symbol reset in app.aif, which is not read as an ELF file"},
        {{"app.elf", "-crc", "crc32", "@reset+0xFFFFFFF0"},
         "@reset+0xFFFFFFF0 on -crc option gives 0x108000000, not a 32-bit address"},
        {{"app.elf", "-range", "@reset-0x8000011", "4"},
         "@reset-0x8000011 on -range option gives an address below 0, not a 32-bit address"},
        {{"app.elf", "-range", "@reset", "0"}, "Bad size on -range option"},
        {{"app.elf", "-crc", "crc32", "0x08000900", "-crcrange", "@_stack_top", "0xE0000000"},
         "Bad size on -crcrange option"},
        {{"app.elf", "-base", "@"}, "Bad number on -base option"},
        {{"app.elf", "-base", "@reset+"}, "Bad number on -base option"},
        {{"app.elf", "-addbin", "app.elf", "@+4"}, "Bad number on -addbin option"},
        {{"app.elf", "-crc", "crc32", "0x0800003C", "-crcrange", "0x08000800", "8"},
         "The CRC field at 0x800003C holds data of .rodata of app.elf; give a free address, a "
         "placeholder or @symbol"},
    };
    th::write_file(path("o.hex"), "old\n");
    for (const row& r : rows) {
        SCOPED_TRACE(r.out);
        std::vector<std::string> args{"-intel32"};
        args.insert(args.end(), r.args.begin(), r.args.end());
        args.push_back("o.hex");
        auto run = zorbin(args);
        EXPECT_EQ(run.out, r.out + "\r\n");
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(th::read_file(path("o.hex")), "old\n");
    }
    // At a symbol, the field takes the place of whatever lies there.
    for (const char* elf : {"app.elf", "same.elf"}) {
        auto at = zorbin({"-info", elf, "-crc", "crc32", "@table", "-crcrange", "0x08000800", "8"});
        EXPECT_EQ(at.status, 0) << at.out;
        EXPECT_NE(at.out.find("\r\nsymbol table = 0x0800003C\r\n"), std::string::npos) << at.out;
        EXPECT_NE(at.out.find(", stored little-endian at 0x0800003C, in place of 4 bytes\r\n"),
                  std::string::npos);
    }
}

}  // namespace
