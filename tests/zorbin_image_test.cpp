// zorbin end to end on AIF images: byte orders, header stripping, the segment chain and its
// output files, and images that are corrupt or name files they may not write.

#include "harness.h"
#include "read/aif.h"

#include <cstdio>
#include <map>
#include <set>

namespace {

namespace fs = std::filesystem;

// An AIF image under construction: header words in either byte order, then the root data and
// the chain's segments appended in file order.
struct aif {
    bool big = false;
    std::string bytes = std::string(128, '\0');

    void word(std::size_t off, std::uint32_t v)
    {
        if (bytes.size() < off + 4)
            bytes.resize(off + 4, '\0');
        for (int k = 0; k < 4; k++)
            bytes[off + k] = static_cast<char>(v >> (big ? 24 - 8 * k : 8 * k));
    }

    // Appends a segment header (next offset 0) and its data; returns the header's offset.
    // name is written as given, padded with NUL to 32 bytes; size defaults to the data's.
    std::uint32_t segment(std::uint32_t load, std::string_view name, std::string_view data,
                          std::int64_t size = -1)
    {
        auto at = static_cast<std::uint32_t>(bytes.size());
        word(at, 0);
        word(at + 4, load);
        word(at + 8, static_cast<std::uint32_t>(size < 0 ? data.size() : size));
        std::string field(name);
        field.resize(32, '\0');
        bytes += field;
        bytes += data;
        return at;
    }

    // Points the link at from (0x38 for the AIF header, else a segment header) to offset to.
    void link(std::uint32_t from, std::uint32_t to) { word(from == 0 ? 0x38 : from, to); }
};

constexpr std::uint32_t no_bl = 0x00008000;  // an entry word that is no BL: header stripped

aif make_aif(bool big, std::string_view root, std::uint32_t base = 0x8000,
             std::uint32_t entry = no_bl)
{
    aif a{big};
    a.word(0x0C, entry);
    a.word(0x10, 0xEF000011);
    a.word(0x14, static_cast<std::uint32_t>(root.size()));
    a.word(0x18, 0);
    a.word(0x28, base);
    a.bytes += root;
    return a;
}

const char* order(bool big) { return big ? "byte-reversed header words" : "little-endian header words"; }

std::string pattern(std::size_t n)
{
    std::string s;
    for (std::size_t i = 0; i < n; i++)
        s += static_cast<char>(i * 7 + 3);
    return s;
}

const std::string warn_plain = "warning: not an AIF image, plain binary assumed\r\n";
const std::string warn_kept = "warning: non binary AIF file, header not stripped\r\n";
const std::string warn_base = "warning: base will apply only to root segment\r\n";
const std::string warn_name = "warning: output file name will only apply to root segment\r\n";
const std::string s3_end = "S70500000000FA\r\n";

class zorbin_image : public th::tmpdir {
protected:
    th::result zorbin(const std::vector<std::string>& args) { return th::run("zorbin", args, in_dir()); }

    // What -bin makes of exactly these bytes at base: the records the root must match.
    std::string plain(std::string_view data, std::uint32_t base)
    {
        th::write_file(dir / "plain.tmp", data);
        auto r = zorbin({"-motorola32", "-bin", "-base", std::to_string(base), "plain.tmp"});
        fs::remove(dir / "plain.tmp");
        EXPECT_EQ(r.status, 0);
        return r.out;
    }

    std::set<std::string> files() const
    {
        std::set<std::string> names;
        for (auto& e : fs::directory_iterator(dir))
            names.insert(e.path().filename().string());
        return names;
    }
};

struct root_case {
    const char* what;
    aif img;
    std::string data;  // the bytes the root must cover
    std::vector<std::string> opts = {};
    std::uint32_t base = 0x8000;
    std::string err = "";
};

std::vector<root_case> root_cases(bool big)
{
    const std::string root = pattern(40);
    std::vector<root_case> cases;
    cases.push_back({"stripped header, image base", make_aif(big, root), root});
    aif tail = make_aif(big, root);
    tail.bytes += "bytes past the root";
    cases.push_back({"bytes past the root's size are not written", tail, root});
    cases.push_back({"-base replaces the image base", make_aif(big, root), root, {"-base", "0x100"}, 0x100});
    aif sizes = make_aif(big, pattern(0x200));
    sizes.word(0x14, 0x1F0);
    sizes.word(0x18, 0x10);
    cases.push_back({"read-only 0x1F0 plus read-write 0x10", sizes, pattern(0x200)});

    // A root of 128 + 40 bytes: from offset 0 when the header is kept, else from 128.
    for (std::uint32_t entry : {0xEB000000u, 0xEBFFFFFFu, 0xEAFFFFFFu, 0xEC000000u}) {
        aif a = make_aif(big, pattern(128 + 40), 0x8000, entry);
        bool kept = entry >> 24 == 0xEB;
        cases.push_back({kept ? "BL entry word keeps the header" : "other entry word strips it", a,
                         a.bytes.substr(kept ? 0 : 128, 128 + 40), {}, 0x8000, kept ? warn_kept : ""});
    }
    aif whole = make_aif(big, root);
    cases.push_back({"-bin: the whole file at base 0", whole, whole.bytes, {"-bin"}, 0});
    cases.push_back({"-bin -base", whole, whole.bytes, {"-bin", "-base", "16"}, 16});
    return cases;
}

TEST_F(zorbin_image, root_segment_by_marker_entry_word_and_options)
{
    for (bool big : {false, true}) {
        for (const auto& c : root_cases(big)) {
            SCOPED_TRACE(std::string(c.what) + ", " + order(big));
            th::write_file(path("img.aif"), c.img.bytes);
            std::vector<std::string> args = c.opts;
            args.insert(args.end(), {"-motorola32", "img.aif"});
            auto r = zorbin(args);
            EXPECT_EQ(r.out, plain(c.data, c.base));
            EXPECT_EQ(r.err, c.err);
            EXPECT_EQ(r.status, 0);
        }
    }
}

TEST_F(zorbin_image, short_and_unmarked_inputs_are_plain_binaries)
{
    aif marked = make_aif(false, "xyz");
    const std::pair<const char*, std::string> cases[] = {
        {"19 bytes: no room for the marker", marked.bytes.substr(0, 19)},
        {"marker one byte off", std::string(1, '\0') + marked.bytes},
        {"marker in the wrong word", marked.bytes.substr(4)},
    };
    for (const auto& [what, bytes] : cases) {
        SCOPED_TRACE(what);
        th::write_file(path("img.aif"), bytes);
        auto r = zorbin({"-motorola32", "img.aif"});
        EXPECT_EQ(r.out, plain(bytes, 0));
        EXPECT_EQ(r.err, warn_plain);
        EXPECT_EQ(r.status, 0);
    }
}

TEST_F(zorbin_image, empty_root_writes_only_the_end_record)
{
    th::write_file(path("img.aif"), make_aif(true, "").bytes);
    auto r = zorbin({"-motorola32", "img.aif"});
    EXPECT_EQ(r.out, s3_end);
    EXPECT_EQ(r.status, 0);
}

// Root 01 02 03 at 0x8000, segment A (AA at 0x1000), segment B (BB CC at 0x20000).
aif chained(bool big)
{
    aif a = make_aif(big, "\x01\x02\x03");
    std::uint32_t sa = a.segment(0x1000, "A", "\xAA");
    std::uint32_t sb = a.segment(0x20000, "B", "\xBB\xCC");
    a.link(0, sa);
    a.link(sa, sb);
    return a;
}

const std::string root_s3 = "S3080000800001020371\r\n" + s3_end;
const std::string a_s3 = "S30600001000AA3F\r\n" + s3_end;
const std::string b_s3 = "S30700020000BBCC6F\r\n" + s3_end;

TEST_F(zorbin_image, chain_writes_one_file_per_segment)
{
    struct chain_case {
        const char* what;
        std::vector<std::string> opts;
        std::string err;
        std::string root_file;
        std::string root;
    };
    const chain_case cases[] = {
        {"root to ROOT.hex", {}, "", "ROOT.hex", root_s3},
        {"-base 0 and an output name: both warnings", {"-base", "0", "out.hex"}, warn_base + warn_name,
         "out.hex", "S30800000000010203F1\r\n" + s3_end},
        {"-base alone", {"-base", "0"}, warn_base, "ROOT.hex", "S30800000000010203F1\r\n" + s3_end},
        {"output name alone", {"out.hex"}, warn_name, "out.hex", root_s3},
    };
    for (bool big : {false, true}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(c.what) + ", " + order(big));
            for (auto& f : {"ROOT.hex", "out.hex", "A.hex", "B.hex"})
                fs::remove(path(f));
            th::write_file(path("img.aif"), chained(big).bytes);
            std::vector<std::string> args = {"-motorola32", "img.aif"};
            args.insert(args.end(), c.opts.begin(), c.opts.end());
            auto r = zorbin(args);
            EXPECT_EQ(r.out, "");
            EXPECT_EQ(r.err, c.err);
            EXPECT_EQ(r.status, 0);
            EXPECT_EQ(files(), (std::set<std::string>{"img.aif", c.root_file, "A.hex", "B.hex"}));
            EXPECT_EQ(th::read_file(path(c.root_file)), c.root);
            EXPECT_EQ(th::read_file(path("A.hex")), a_s3);
            EXPECT_EQ(th::read_file(path("B.hex")), b_s3);
        }
    }
}

TEST_F(zorbin_image, empty_name_and_empty_segment)
{
    aif a = make_aif(false, "\x01\x02\x03");
    std::uint32_t s1 = a.segment(0x1000, "", "");
    a.link(0, s1);
    th::write_file(path("img.aif"), a.bytes);
    auto r = zorbin({"-motorola32", "img.aif"});
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(th::read_file(path(".hex")), s3_end);
}

TEST_F(zorbin_image, a_31_character_name_fits)
{
    aif a = make_aif(false, "\x01");
    std::string name(31, 'N');
    a.link(0, a.segment(0x1000, name, "\xAA"));
    th::write_file(path("img.aif"), a.bytes);
    auto r = zorbin({"-motorola32", "img.aif"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(th::read_file(path(name + ".hex")), a_s3);
}

// A corrupt or dangerous image: the message, exit 1, and exactly these files afterwards.
struct fault_case {
    const char* what;
    std::string image;
    std::string out;
    std::map<std::string, std::string> files;  // every file but img.aif, with its content
    std::vector<std::string> args = {"-motorola32"};
    std::map<std::string, std::string> before = {};  // files present before the run
};

std::vector<fault_case> fault_cases(bool big)
{
    const std::string bad = "Bad AIF image img.aif: ";
    std::vector<fault_case> cases;
    auto img = [&] { return make_aif(big, "\x01\x02\x03"); };
    {
        aif a = img();
        cases.push_back({"header cut short", a.bytes.substr(0, 127),
                         bad + "file ends inside the 128-byte header\r\n", {}});
    }
    {
        aif a = img();
        a.word(0x14, 4);
        cases.push_back({"root one byte past the end", a.bytes,
                         bad + "root segment runs past the end of the file\r\n", {}});
        a.word(0x14, 0xFFFFFFFF);
        a.word(0x18, 2);
        cases.push_back({"root size past 32 bits, 1 if wrapped", a.bytes,
                         bad + "root segment runs past the end of the file\r\n", {}});
        a = make_aif(big, "abc", 0x8000, 0xEB000000);  // the file holds 128 + 3 bytes
        a.word(0x14, 128 + 4);
        cases.push_back({"kept header: root one byte past the end", a.bytes,
                         bad + "root segment runs past the end of the file\r\n", {}});
    }
    for (std::uint32_t off : {0x10000u, 0xFFFFFFFFu}) {
        aif a = img();
        a.link(0, off);
        char at[16];
        std::snprintf(at, sizeof at, "0x%X", off);
        cases.push_back({"first link outside the file: ROOT.hex stays", a.bytes,
                         bad + "segment header at " + at + " lies outside the file\r\n",
                         {{"ROOT.hex", root_s3}}});
    }
    {
        aif a = img();
        std::uint32_t s1 = a.segment(0x1000, "A", "\xAA");
        a.link(0, s1);
        a.link(s1, s1 + 2);  // the file ends 43 bytes after it
        cases.push_back({"header one byte short at the end", a.bytes,
                         bad + "segment header at 0x85 lies outside the file\r\n",
                         {{"ROOT.hex", root_s3}, {"A.hex", a_s3}}});
    }
    {
        aif a = img();
        std::uint32_t s1 = a.segment(0x1000, "A", "\xAA");
        std::uint32_t s2 = a.segment(0x20000, "B", "\xBB\xCC");
        a.link(0, s1);
        a.link(s1, s2);
        a.link(s2, s1);
        cases.push_back({"chain comes back to A", a.bytes,
                         bad + "segment chain comes back to the header at 0x83\r\n",
                         {{"ROOT.hex", root_s3}, {"A.hex", a_s3}, {"B.hex", b_s3}}});
        a.link(s1, s1);
        cases.push_back({"segment links to itself", a.bytes,
                         bad + "segment chain comes back to the header at 0x83\r\n",
                         {{"ROOT.hex", root_s3}, {"A.hex", a_s3}}});
    }
    {
        // Later in the chain, earlier in the file: A's data runs to the end, over B.
        aif a = img();
        std::uint32_t s1 = a.segment(0x1000, "A", "\xAA");
        std::uint32_t s2 = a.segment(0x20000, "B", "\xBB\xCC");
        a.link(0, s2);
        a.link(s2, s1);
        a.word(s1 + 8, static_cast<std::uint32_t>(a.bytes.size()) - s1 - 44);
        cases.push_back({"segment data over another segment", a.bytes,
                         bad + "segment A at 0x83 overlaps the segment at 0xB0\r\n",
                         {{"ROOT.hex", root_s3}, {"B.hex", b_s3}}});
    }
    {
        aif a = img();
        a.link(0, a.segment(0x1000, std::string(32, 'N'), "\xAA"));
        cases.push_back({"name without NUL in 32 bytes", a.bytes,
                         bad + "segment name at 0x83 has no NUL in its 32 bytes\r\n",
                         {{"ROOT.hex", root_s3}}});
    }
    for (const char* name : {"../evil", "sub/x", "a\\b", "/tmp/abs"}) {
        aif a = img();
        a.link(0, a.segment(0x1000, name, "\xAA"));
        cases.push_back({"name with a slash", a.bytes,
                         bad + "segment " + name + " at 0x83 has a / or \\ in its name\r\n",
                         {{"ROOT.hex", root_s3}}});
    }
    for (std::int64_t size : {2LL, 0xFFFFFFFFLL}) {
        aif a = img();
        a.link(0, a.segment(0x1000, "A", "\xAA", size));
        cases.push_back({"segment data past the end; an old A.hex survives", a.bytes,
                         bad + "segment A at 0x83 runs past the end of the file\r\n",
                         {{"ROOT.hex", root_s3}, {"A.hex", "old A\n"}}, {"-motorola32"},
                         {{"A.hex", "old A\n"}}});
    }
    {
        aif a = img();
        a.link(0, a.segment(0x1000, "ROOT", "\xAA"));
        cases.push_back({"segment ROOT after the root went to ROOT.hex", a.bytes,
                         "Segment ROOT of img.aif would overwrite ROOT.hex, written before in this run\r\n",
                         {{"ROOT.hex", root_s3}}});
        a = img();
        a.link(0, a.segment(0x1000, "out", "\xAA"));
        cases.push_back({"segment named like the command line's output", a.bytes,
                         "Segment out of img.aif would overwrite out.hex, written before in this run\r\n",
                         {{"out.hex", root_s3}}, {"-motorola32", "./out.hex"}});
        a = img();
        std::uint32_t s1 = a.segment(0x1000, "A", "\xAA");
        std::uint32_t s2 = a.segment(0x20000, "A", "\xBB\xCC");
        a.link(0, s1);
        a.link(s1, s2);
        cases.push_back({"two segments named A", a.bytes,
                         "Segment A of img.aif would overwrite A.hex, written before in this run\r\n",
                         {{"ROOT.hex", root_s3}, {"A.hex", a_s3}}});
    }
    {
        aif a = make_aif(big, "\x01\x02\x03", 0x100);
        a.link(0, a.segment(0x10000, "A", "\xAA"));
        cases.push_back({"segment past the format's limit; an old A.hex survives", a.bytes,
                         "Base and/or size too big for this format, max = 0xFFFF\r\n",
                         {{"ROOT.hex", ":03010000010203F6\r\n:00000001FF\r\n"}, {"A.hex", "old A\n"}},
                         {"-mds"}, {{"A.hex", "old A\n"}}});
    }
    return cases;
}

TEST_F(zorbin_image, corrupt_images_stop_with_a_message_and_keep_earlier_files)
{
    for (bool big : {false, true}) {
        for (const auto& c : fault_cases(big)) {
            SCOPED_TRACE(std::string(c.what) + ", " + order(big));
            fs::remove_all(dir);
            fs::create_directories(dir / "work");
            th::options o;
            o.cwd = (dir / "work").string();
            th::write_file(dir / "work" / "img.aif", c.image);
            for (const auto& [name, content] : c.before)
                th::write_file(dir / "work" / name, content);
            std::vector<std::string> args = {"img.aif"};
            args.insert(args.end(), c.args.begin(), c.args.end());
            auto r = th::run("zorbin", args, o);
            EXPECT_EQ(r.out, c.out);
            EXPECT_EQ(r.status, 1);
            std::map<std::string, std::string> after;
            for (auto& e : fs::recursive_directory_iterator(dir))
                if (e.is_regular_file() && e.path().filename() != "img.aif")
                    after[fs::relative(e.path(), dir / "work").string()] = th::read_file(e.path());
            EXPECT_EQ(after, c.files);
        }
    }
}

// Names that Windows keeps for devices, or cannot store, are refused there like a slash; on
// Linux they are plain names.
TEST_F(zorbin_image, names_windows_keeps_for_itself)
{
    const std::string seg_names[] = {"NUL", "con", "Aux", "PRN", "COM1", "lpt9", "nul.x", "CON ",
                                     "a:b", "a<b", "a>b", "a\"b", "a|b", "a?b", "a*b", "a\x01" "b",
                                     "caf\xE9"};
    for (const auto& name : seg_names) {
        SCOPED_TRACE(name);
        fs::remove_all(dir);
        fs::create_directory(dir);
        aif a = make_aif(false, "\x01\x02\x03");
        a.link(0, a.segment(0x1000, name, "\xAA"));
        th::write_file(path("img.aif"), a.bytes);
        auto r = zorbin({"-motorola32", "img.aif"});
        if (th::windows()) {
            EXPECT_EQ(r.out, "Bad AIF image img.aif: segment " + name +
                                 " at 0x83 is a device name or has a character file names cannot hold\r\n");
            EXPECT_EQ(r.status, 1);
            EXPECT_EQ(files(), (std::set<std::string>{"img.aif", "ROOT.hex"}));
        } else {
            EXPECT_EQ(r.out, "");
            EXPECT_EQ(r.status, 0);
            EXPECT_EQ(th::read_file(path(name + ".hex")), a_s3);
        }
    }
}

// Windows file names ignore case: a segment SEG after a segment seg would overwrite seg.hex.
TEST_F(zorbin_image, segment_names_that_differ_in_case)
{
    aif a = make_aif(false, "\x01\x02\x03");
    std::uint32_t s1 = a.segment(0x1000, "seg", "\xAA");
    std::uint32_t s2 = a.segment(0x20000, "SEG", "\xBB\xCC");
    a.link(0, s1);
    a.link(s1, s2);
    th::write_file(path("img.aif"), a.bytes);
    auto r = zorbin({"-motorola32", "img.aif"});
    EXPECT_EQ(th::read_file(path("seg.hex")), a_s3);
    if (th::windows()) {
        EXPECT_EQ(r.out, "Segment SEG of img.aif would overwrite SEG.hex, written before in this run\r\n");
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(files(), (std::set<std::string>{"img.aif", "ROOT.hex", "seg.hex"}));
    } else {
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(th::read_file(path("SEG.hex")), b_s3);
    }
}

TEST_F(zorbin_image, warnings_come_before_a_fault)
{
    aif a = make_aif(false, "\x01\x02\x03");
    a.link(0, 0x10000);
    th::write_file(path("img.aif"), a.bytes);
    auto r = zorbin({"-motorola32", "-base", "0", "img.aif", "out.hex"});
    EXPECT_EQ(r.err, warn_base + warn_name);
    EXPECT_EQ(r.out, "Bad AIF image img.aif: segment header at 0x10000 lies outside the file\r\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(th::read_file(path("out.hex")), "S30800000000010203F1\r\n" + s3_end);
}

// srec_cat reads each file of the bundled sample back: the bytes and addresses the image holds.
TEST_F(zorbin_image, sample_chain_read_back_by_srec_cat)
{
    REQUIRE_TOOL("srec_cat");
    struct seg {
        const char* file;
        std::size_t offset, size;
        const char* base;
    };
    const seg segs[] = {
        {"ROOT.hex", 128, 80, "0x8000"},
        {"VECTORS.hex", 0xD0 + 44, 32, "0"},
        {"CALTABLE.hex", 0x11C + 44, 24, "0x20000"},
    };
    const std::string image = th::read_file(th::sample("app.aif"));
    for (const char* sample : {"app.aif", "app-be.aif"}) {
        for (const auto& [format, reader] : {std::pair{"-motorola32", "-motorola"},
                                             std::pair{"-intel32", "-intel"}}) {
            SCOPED_TRACE(std::string(sample) + " " + format);
            auto r = zorbin({format, th::sample(sample)});
            ASSERT_EQ(r.status, 0);
            EXPECT_EQ(r.err, "");
            for (const auto& s : segs) {
                SCOPED_TRACE(s.file);
                auto back = th::run_argv("/usr/bin/env",
                                         {"env", "srec_cat", s.file, reader, "-offset",
                                          std::string("-") + s.base, "-o", "back.bin", "-binary"},
                                         in_dir());
                EXPECT_EQ(back.status, 0) << back.err;
                EXPECT_EQ(th::read_file(path("back.bin")), image.substr(s.offset, s.size));
            }
        }
    }
}

// The reader on its own, on every cut of the sample and on every value of every byte of a
// small chain's headers: each segment lies inside the buffer and every chain ends.
TEST(zorbin_image_reader, untrusted_bytes_stay_inside_the_buffer)
{
    auto walk = [](const std::string& bytes) {
        std::vector<unsigned char> file(bytes.begin(), bytes.end());  // exactly sized, for ASan
        std::span<const unsigned char> f(file);
        auto inside = [&](const zb::segment& s) {
            return s.data.empty() || (s.data.data() >= f.data() &&
                                      s.data.data() + s.data.size() <= f.data() + f.size());
        };
        zb::root_result r = zb::read_root(f, {});
        if (r.error != zb::fault::none)
            return;
        EXPECT_TRUE(inside(r.root));
        zb::segment seg;
        for (std::size_t steps = 0; r.next.fragment_offset != 0; steps++) {
            ASSERT_LE(steps, f.size()) << "the chain does not end";
            if (zb::next_segment(f, r.next, seg) != zb::fault::none)
                return;
            EXPECT_TRUE(inside(seg));
        }
    };
    for (const char* sample : {"app.aif", "app-be.aif"}) {
        const std::string image = th::read_file(th::sample(sample));
        for (std::size_t n = 0; n <= image.size(); n++) {
            SCOPED_TRACE(std::string(sample) + " cut to " + std::to_string(n));
            walk(image.substr(0, n));
        }
    }
    aif a = chained(false);
    for (std::size_t off : {0x0Cu, 0x14u, 0x18u, 0x38u, 0x83u, 0x87u, 0x8Bu, 0xB0u, 0xB4u, 0xB8u}) {
        for (int v = 0; v < 256; v++) {
            SCOPED_TRACE("byte " + std::to_string(off) + " = " + std::to_string(v));
            std::string b = a.bytes;
            b[off] = static_cast<char>(v);
            walk(b);
        }
    }
}

// A chain whose segments each run to the end of the file would write the file again for every
// segment: it stops at the first overlap, one segment taken. A long chain of honest segments is
// taken whole. The work is counted, both ways: one reader step per segment (and one for the
// fault), and no byte of the file handed out to be written twice, so what is written never
// outgrows the file.
TEST(zorbin_image_reader, overlapping_segments_stop_the_chain_and_a_long_chain_takes_one_step_per_segment)
{
    struct work {
        std::size_t steps = 0, taken = 0, bytes = 0;
    };
    auto walk = [](const aif& a, work& w) {
        std::vector<unsigned char> file(a.bytes.begin(), a.bytes.end());
        zb::root_result r = zb::read_root(file, {});
        EXPECT_EQ(r.error, zb::fault::none);
        w = {.bytes = r.root.data.size()};
        zb::segment seg;
        while (r.next.fragment_offset != 0) {
            w.steps++;
            if (zb::fault f = zb::next_segment(file, r.next, seg); f != zb::fault::none)
                return f;
            w.taken++;
            w.bytes += seg.data.size();
        }
        return zb::fault::none;
    };
    constexpr std::size_t n = 20000;
    for (bool hostile : {true, false}) {
        SCOPED_TRACE(hostile ? "every segment runs to the end" : "honest chain");
        aif a = make_aif(false, "\x01");
        std::vector<std::uint32_t> at;
        for (std::size_t k = 0; k < n; k++)
            at.push_back(a.segment(0x1000, std::to_string(k), "\xAA"));
        a.link(0, at[0]);
        for (std::size_t k = 0; k + 1 < n; k++) {
            a.link(at[k], at[k + 1]);
            if (hostile)
                a.word(at[k] + 8, static_cast<std::uint32_t>(a.bytes.size()) - at[k] - 44);
        }
        work w;
        zb::fault f = walk(a, w);
        EXPECT_EQ(f, hostile ? zb::fault::overlap : zb::fault::none);
        EXPECT_EQ(w.taken, hostile ? 1u : n);
        EXPECT_EQ(w.steps, hostile ? 2u : n);
        EXPECT_LE(w.bytes, a.bytes.size());
    }
}

}  // namespace
