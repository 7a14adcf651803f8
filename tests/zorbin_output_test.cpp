// zorbin's output loop, called as the run calls it: the outputs of one image go in place all
// together or not at all, the files of an AIF chain one by one, and no failure leaves a
// temporary file or touches the input.
#include "harness.h"

#include <optional>
#include <set>

#include "write/output.h"

namespace {

namespace fs = std::filesystem;
using th::lines;

class zorbin_output : public th::tmpdir {
protected:
    void SetUp() override
    {
        th::tmpdir::SetUp();
        reset();
    }
    void reset()
    {
        fs::remove(path("c.hex"));
        th::write_file(path("a.hex"), "old a\n");
        th::write_file(path("b.hex"), "old b\n");
        th::write_file(path("in.bin"), "input\n");
    }
    std::set<std::string> names() const
    {
        std::set<std::string> s;
        for (auto& e : fs::directory_iterator(dir))
            s.insert(e.path().filename().string());
        return s;
    }
};

const unsigned char four[] = {1, 2, 3, 4};

zb::job to(const std::string& file, std::uint64_t base)
{
    return {file, std::string("S"), {{base, {std::span<const unsigned char>(four)}}}, {}, nullptr, {}};
}

// What -mds makes of the four bytes at 0x100 and at 0x200.
const std::string at100 = lines({":0401000001020304F1", ":00000001FF"});
const std::string at200 = lines({":0402000001020304F0", ":00000001FF"});

TEST_F(zorbin_output, several_files_go_in_place_together_or_not_at_all)
{
    using zb::io_fault;
    using zb::placing;
    struct row {
        const char* what;
        placing how;
        std::string first, second;  // the first at 0x100, the second at second_base
        std::uint64_t second_base;
        io_fault fault;
        std::string a, b;  // a.hex and b.hex afterwards
    };
    const std::string old_a = "old a\n", old_b = "old b\n";
    const row rows[] = {
        {"both complete: both in place", placing::together, "a.hex", "b.hex", 0x200,
         io_fault::none, at100, at200},
        {"the second past the limit: neither", placing::together, "a.hex", "b.hex", 0xFFFE,
         io_fault::too_big, old_a, old_b},
        {"the second's folder missing: neither", placing::together, "a.hex", "none/b.hex", 0x200,
         io_fault::open_output, old_a, old_b},
        {"the second is the input: neither", placing::together, "a.hex", "in.bin", 0x200,
         io_fault::output_is_input, old_a, old_b},
        {"the second is the first's file: neither", placing::together, "b.hex", "b.hex", 0x200,
         io_fault::written_before, old_a, old_b},
        {"the second is the first's new file: neither", placing::together, "c.hex", "c.hex",
         0x200, io_fault::written_before, old_a, old_b},
        {"chain, the second past the limit: the first stays", placing::in_turn, "a.hex", "b.hex",
         0xFFFE, io_fault::too_big, at100, old_b},
        {"chain, the second's folder missing: the first stays", placing::in_turn, "a.hex",
         "none/b.hex", 0x200, io_fault::open_output, at100, old_b},
        {"chain, the second is the first's new file", placing::in_turn, "c.hex", "c.hex", 0x200,
         io_fault::written_before, old_a, old_b},
    };
    fw::file_id input;
    ASSERT_TRUE(fw::id_of(path("in.bin"), input));
    const zb::out_args opt{.format = zb::mds, .fill = 0xFF, .infile = "in.bin"};
    for (const row& r : rows) {
        SCOPED_TRACE(r.what);
        reset();
        const zb::outputs out{.jobs = {to(path(r.first), 0x100), to(path(r.second), r.second_base)},
                              .how = r.how};
        const zb::io_error e = zb::write_outputs(out, opt, input);
        EXPECT_EQ(e.f, r.fault) << e.file;
        EXPECT_EQ(th::read_file(path("a.hex")), r.a);
        EXPECT_EQ(th::read_file(path("b.hex")), r.b);
        EXPECT_EQ(th::read_file(path("in.bin")), "input\n");
        // The chain's first file stays where the second names it again; the rest leave none.
        const bool c = r.first == "c.hex" && r.how == placing::in_turn;
        if (c) {
            EXPECT_EQ(th::read_file(path("c.hex")), at100);
        }
        std::set<std::string> want{"a.hex", "b.hex", "in.bin"};
        if (c)
            want.insert("c.hex");
        EXPECT_EQ(names(), want) << "a temporary file or a file of a failed run left behind";
    }
}

}  // namespace
