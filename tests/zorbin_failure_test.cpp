// zorbin under injected failures: a disk that fills up while an output file is written,
// outputs that are directories. Every run fails with a message, and the directory afterwards
// holds exactly what it held before plus the complete files of earlier segments.
#include "harness.h"

#include <map>

namespace {

namespace fs = std::filesystem;

constexpr const char* dir_mark = "<directory>";

// Every entry of d: regular files by content, directories marked.
std::map<std::string, std::string> entries(const fs::path& d)
{
    std::map<std::string, std::string> m;
    for (auto& e : fs::directory_iterator(d))
        m[e.path().filename().string()] = e.is_directory() ? dir_mark : th::read_file(e.path());
    return m;
}

class zorbin_failure : public th::tmpdir {
protected:
    // The bundled image converted completely, in a directory of its own: the chain's files.
    std::map<std::string, std::string> complete_chain()
    {
        fs::create_directory(dir / "good");
        fs::copy_file(th::sample("app.aif"), dir / "good" / "app.aif");
        th::options o;
        o.cwd = (dir / "good").string();
        EXPECT_EQ(th::run("zorbin", {"-motorola32", "app.aif"}, o).status, 0);
        auto m = entries(dir / "good");
        fs::remove_all(dir / "good");
        return m;
    }
};

struct failure_case {
    const char* what;
    std::map<std::string, std::string> before;  // files (or directories) in place beforehand
    std::vector<std::string> args;
    long long limit;      // file size limit, 0 for none
    bool stdout_to_file;  // standard output goes to the file "stdout" in the directory
    std::string out;
    std::string err;
};

TEST_F(zorbin_failure, failed_runs_leave_old_files_and_nothing_else)
{
    const std::string data(4096, '\x5A');  // 4 KiB of data: over 11 KiB of intel32 records
    const std::string old = "old records\r\n";
    const failure_case cases[] = {
        {"disk full while an old output is replaced",
         {{"in.bin", data}, {"out.hex", old}}, {"-intel32", "-bin", "in.bin", "out.hex"}, 2048,
         false, "Error writing out.hex\r\n", ""},
        {"disk full while a new output is written",
         {{"in.bin", data}}, {"-intel32", "-bin", "in.bin", "out.hex"}, 2048, false,
         "Error writing out.hex\r\n", ""},
        {"disk full under standard output: the message goes to standard error",
         {{"in.bin", data}}, {"-intel32", "-bin", "in.bin"}, 2048, true, "",
         "Error writing standard output\r\n"},
        {"output name is a directory", {{"in.bin", data}, {"sub", dir_mark}},
         {"-mds", "-bin", "in.bin", "sub"}, 0, false, "Error opening sub for output\r\n", ""},
        {"output in a directory that does not exist", {{"in.bin", data}},
         {"-mds", "-bin", "in.bin", "none/out.hex"}, 0, false,
         "Error opening none/out.hex for output\r\n", ""},
        {"input is a directory, old output kept", {{"sub", dir_mark}, {"out.hex", old}},
         {"-mds", "sub", "out.hex"}, 0, false, "Error reading sub\r\n", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(dir);
        fs::create_directory(dir);
        for (const auto& [name, content] : c.before) {
            if (content == dir_mark)
                fs::create_directory(dir / name);
            else
                th::write_file(dir / name, content);
        }
        th::options o = in_dir();
        o.file_size_limit = c.limit;
        if (c.stdout_to_file)
            o.stdout_path = path("stdout");
        auto r = th::run("zorbin", c.args, o);
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.err, c.err);
        EXPECT_EQ(r.status, 1);
        auto after = entries(dir);
        after.erase("stdout");
        EXPECT_EQ(after, c.before);
    }
}

TEST_F(zorbin_failure, a_chain_stops_at_the_segment_it_cannot_write)
{
    const auto complete = complete_chain();
    ASSERT_EQ(complete.size(), 4u);  // app.aif, ROOT.hex, VECTORS.hex, CALTABLE.hex
    // The last segment's file is a directory: the two before it are complete, nothing else.
    fs::copy_file(th::sample("app.aif"), dir / "app.aif");
    fs::create_directory(dir / "CALTABLE.hex");
    auto r = th::run("zorbin", {"-motorola32", "app.aif"}, in_dir());
    EXPECT_EQ(r.out, "Error opening CALTABLE.hex for output\r\n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 1);
    auto expected = complete;
    expected["CALTABLE.hex"] = dir_mark;
    EXPECT_EQ(entries(dir), expected);

    // The disk fills during the root: its old file stays, no later segment is written.
    fs::remove_all(dir / "CALTABLE.hex");
    fs::remove(dir / "VECTORS.hex");
    th::write_file(dir / "ROOT.hex", "old root\r\n");
    th::options o = in_dir();
    o.file_size_limit = 64;
    r = th::run("zorbin", {"-motorola32", "app.aif"}, o);
    EXPECT_EQ(r.out, "Error writing ROOT.hex\r\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(entries(dir), (std::map<std::string, std::string>{
                                {"app.aif", complete.at("app.aif")}, {"ROOT.hex", "old root\r\n"}}));
}

}  // namespace
