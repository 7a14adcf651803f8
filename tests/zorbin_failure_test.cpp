// zorbin under injected failures: a disk that fills up while an output file is written,
// outputs that are directories, links or mounts, signals. Every run fails with a message, and
// the directory afterwards holds exactly what it held before plus the complete files of
// earlier segments.
#include "harness.h"

#include <csignal>
#include <cstring>
#include <fstream>
#include <map>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

constexpr const char* dir_mark = "<directory>";

// Every entry of d: regular files by content, directories marked, links by their target.
std::map<std::string, std::string> entries(const fs::path& d)
{
    std::map<std::string, std::string> m;
    for (auto& e : fs::directory_iterator(d)) {
        std::string& v = m[e.path().filename().string()];
        if (e.is_symlink())
            v = "-> " + fs::read_symlink(e.path()).string();
        else
            v = e.is_directory() ? dir_mark : th::read_file(e.path());
    }
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


// Edges of real file systems: every case fails as the issue at hand, exit 1, and no file is
// lost or left behind.
TEST_F(zorbin_failure, edges_of_the_file_system)
{
    const std::string data(70 * 1024, '\x11');  // past mostech's 64 KiB limit
    th::write_file(path("fw.bin"), data);
    fs::create_symlink("loop2", dir / "loop1");
    fs::create_symlink("loop1", dir / "loop2");
    fs::create_symlink("fw.bin", dir / "fw.link");
    fs::create_hard_link(dir / "fw.bin", dir / "fw.hard");
    const std::map<std::string, std::string> before = entries(dir);

    struct {
        const char* what;
        std::vector<std::string> args;
        std::string out;
    } cases[] = {
        {"output is a loop of symbolic links", {"-intel32", "-bin", "fw.bin", "loop1"},
         "Error opening loop1 for output\r\n"},
        {"output is the input", {"-intel32", "-bin", "fw.bin", "fw.bin"},
         "Output file fw.bin is the input file fw.bin, not overwritten\r\n"},
        {"output is the input under another path", {"-intel32", "-bin", "fw.bin", "./fw.bin"},
         "Output file ./fw.bin is the input file fw.bin, not overwritten\r\n"},
        {"output is a link to the input", {"-intel32", "-bin", "fw.bin", "fw.link"},
         "Output file fw.link is the input file fw.bin, not overwritten\r\n"},
        {"output is a hard link of the input", {"-intel32", "-bin", "fw.hard", "fw.bin"},
         "Output file fw.bin is the input file fw.hard, not overwritten\r\n"},
        {"input is a device with no end", {"-intel32", "-bin", "/dev/zero", "out.hex"},
         "Error seeking on /dev/zero\r\n"},
        {"input is an empty device, as an empty file", {"-intel32", "-bin", "/dev/null", "out.hex"},
         "Unable to allocate 0 bytes\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto r = th::run("zorbin", c.args, in_dir());
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(entries(dir), before);
        EXPECT_TRUE(fs::is_symlink(dir / "loop1"));
    }

    auto r = th::run_argv("/bin/sh", {"sh", "-c", th::command("zorbin") + " -help 2>/dev/full"});
    EXPECT_EQ(r.status, 1) << "a help text that could not be written";
}

// Windows file names ignore case: there FW.BIN is the input fw.bin itself.
TEST_F(zorbin_failure, an_output_named_like_the_input_in_other_letters)
{
    th::write_file(path("fw.bin"), "\x01\x02\x03");
    auto r = th::run("zorbin", {"-intel32", "-bin", "fw.bin", "FW.BIN"}, in_dir());
    EXPECT_EQ(th::read_file(path("fw.bin")), "\x01\x02\x03");
    if (th::windows()) {
        EXPECT_EQ(r.out, "Output file FW.BIN is the input file fw.bin, not overwritten\r\n");
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(entries(dir).size(), 1u);
    } else {
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(th::read_file(path("FW.BIN")), ":020000040000FA\r\n:03000000010203F7\r\n:00000001FF\r\n");
    }
}

TEST_F(zorbin_failure, files_under_dev_go_through_a_temporary_file)
{
    // /dev/shm holds regular files: a failed run must keep the old one whole, as anywhere.
    REQUIRE_SYSTEM_FILE("/dev/shm");
    const th::private_dir shm_dir("/dev/shm");
    const fs::path& shm = shm_dir.path;
    th::write_file(path("70k.bin"), std::string(70 * 1024, '\x22'));
    th::write_file(shm / "out.hex", "old\r\n");
    auto r = th::run("zorbin", {"-mostech", "-bin", "70k.bin", (shm / "out.hex").string()}, in_dir());
    auto after = entries(shm);
    EXPECT_EQ(r.out, "Base and/or size too big for this format, max = 0xFFFF\r\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(after, (std::map<std::string, std::string>{{"out.hex", "old\r\n"}}));
}

// A replaced file keeps what a plain write keeps: its links, its owner, and its place where
// a rename is refused. The records are those of a run into a fresh file.
class zorbin_replaced : public zorbin_failure {
protected:
    std::string records;
    void SetUp() override
    {
        zorbin_failure::SetUp();
        th::write_file(path("fw.bin"), std::string(100, '\x33'));
        ASSERT_EQ(th::run("zorbin", {"-intel32", "-bin", "fw.bin", "fresh.hex"}, in_dir()).status, 0);
        records = th::read_file(path("fresh.hex"));
    }
};

struct stat stat_of(const fs::path& p)
{
    struct stat st {};
    EXPECT_EQ(::stat(p.c_str(), &st), 0);
    return st;
}

TEST_F(zorbin_replaced, a_replaced_file_keeps_its_links)
{
    th::write_file(path("out.hex"), "old");
    fs::create_hard_link(dir / "out.hex", dir / "other.hex");
    ino_t ino = stat_of(dir / "out.hex").st_ino;
    auto r = th::run("zorbin", {"-intel32", "-bin", "fw.bin", "out.hex"}, in_dir());
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(th::read_file(path("other.hex")), records) << "the hard link was split off";
    EXPECT_EQ(stat_of(dir / "out.hex").st_ino, ino);
}

// Owners, sticky directories and bind mounts are POSIX matters.
TEST_F(zorbin_replaced, linux_only_a_replaced_file_keeps_its_owner_and_place)
{
    REQUIRE_PRIVILEGE("files of other users");
    const unsigned nobody = 65534;
    th::write_file(path("theirs.hex"), "old");
    ASSERT_EQ(::chown(path("theirs.hex").c_str(), nobody, nobody), 0);
    auto r = th::run("zorbin", {"-intel32", "-bin", "fw.bin", "theirs.hex"}, in_dir());
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(th::read_file(path("theirs.hex")), records);
    EXPECT_EQ(stat_of(dir / "theirs.hex").st_uid, nobody) << "a run as root took the file over";

    // Another user's file, writable by all, in a sticky directory that is not ours either:
    // the rename is refused, the file is written in place.
    fs::create_directory(dir / "sticky");
    ASSERT_EQ(::chown((dir / "sticky").c_str(), nobody, nobody), 0);
    ASSERT_EQ(::chmod((dir / "sticky").c_str(), 01777), 0);
    ASSERT_EQ(::chmod(dir.c_str(), 0755), 0);
    ASSERT_EQ(::chmod(path("fw.bin").c_str(), 0644), 0);
    th::write_file(dir / "sticky" / "out.hex", "old");
    ASSERT_EQ(::chmod((dir / "sticky" / "out.hex").c_str(), 0666), 0);
    th::options o = in_dir();
    o.run_as = nobody - 1;
    r = th::run("zorbin", {"-intel32", "-bin", "fw.bin", "sticky/out.hex"}, o);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(th::read_file(dir / "sticky" / "out.hex"), records);
    EXPECT_EQ(entries(dir / "sticky").size(), 1u);

    // A file mounted on its own, as containers mount them: it cannot be renamed over.
    th::write_file(path("mounted.hex"), "old");
    th::write_file(path("mount-src.hex"), "old");
    r = th::run_argv("/usr/bin/unshare",
                     {"unshare", "-m", "sh", "-c",
                      "mount --bind mount-src.hex mounted.hex && exec " + th::bin("zorbin") +
                          " -intel32 -bin fw.bin mounted.hex"},
                     in_dir());
    REQUIRE_THAT(r.status == 0 || !r.out.empty(), "no mount namespace here: " << r.err);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(th::read_file(path("mount-src.hex")), records);
}

// The old file is rewritten in place (it has another link) on a disk with room for the
// temporary file but not for the old file's growth: the room is claimed before the first old
// byte is overwritten, so the run fails with the old file whole.
// Linux only: a file system of the test's own in a mount namespace.
TEST_F(zorbin_failure, linux_only_a_disk_too_full_for_an_in_place_rewrite_keeps_the_old_file)
{
    REQUIRE_PRIVILEGE("a small file system of its own in a mount namespace");
    th::write_file(path("fw.bin"), std::string(100 * 1024, '\x44'));  // ~290 KB of records
    fs::create_directory(dir / "d");
    const std::string script =
        "mount -t tmpfs -o size=1m fwkit d || exit 99\n"
        "printf old > d/out.hex && ln d/out.hex d/link.hex\n"
        "head -c 634880 /dev/zero > d/fill\n"  // leaves ~400 KB: the output once, not twice
        + th::bin("zorbin") + " -intel32 -bin fw.bin d/out.hex\n"
        "echo \"status $?\"; head -c 16 d/out.hex; echo; wc -c < d/out.hex; ls -a d\n";
    auto r = th::run_argv("/usr/bin/unshare", {"unshare", "-m", "sh", "-c", script}, in_dir());
    // A sandbox may refuse mount namespaces even to root: the system's limit, not the kit's.
    REQUIRE_THAT(r.status != 99 && (r.status == 0 || !r.out.empty()), "no mount namespace here: " << r.err);
    EXPECT_EQ(r.out, "Error writing d/out.hex\r\nstatus 1\nold\n3\n.\n..\nfill\nlink.hex\nout.hex\n");
}

// True when d holds a temporary file of an output being written.
bool has_temporary(const fs::path& d)
{
    for (auto& e : fs::directory_iterator(d))
        if (e.path().filename().string().starts_with(".fwkit-"))
            return true;
    return false;
}

// Ctrl-C in make, a CI timeout: the temporary file goes, and the run ends by the signal.
// The run is held still (SIGSTOP) while the test looks for its temporary file, and the signal
// is sent while it is held: it comes while the output is being written however fast the
// conversion is, so a small input does, and no try writes more than its 12 MB of records.
// Linux only: POSIX signals; on Windows a console control handler removes the temporary
// file, and Wine sends no Ctrl-C to a program without a console.
TEST_F(zorbin_failure, linux_only_an_interrupted_run_leaves_no_temporary_file)
{
    constexpr std::size_t input = 4 << 20;
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE(strsignal(sig));
        bool caught = false;
        for (int attempt = 0; !caught && attempt < 3; attempt++) {
            fs::remove_all(dir);
            fs::create_directory(dir);
            {
                std::ofstream f(path("big.bin"), std::ios::binary);
                f.seekp(static_cast<std::streamoff>(input) - 1);
                f.put('\0');
            }
            std::string prog = th::bin("zorbin"), in = path("big.bin"), out = path("out.hex");
            const char* argv[] = {prog.c_str(), "-intel32", "-bin", in.c_str(), out.c_str(), nullptr};
            pid_t pid;
            ASSERT_EQ(posix_spawn(&pid, prog.c_str(), nullptr, nullptr,
                                  const_cast<char* const*>(argv), environ), 0);
            int status = 0;
            for (;;) {
                kill(pid, SIGSTOP);
                ASSERT_EQ(waitpid(pid, &status, WUNTRACED), pid);
                if (!WIFSTOPPED(status))
                    break;  // ended before its temporary file was seen
                const bool seen = has_temporary(dir);
                if (seen)
                    kill(pid, sig);
                kill(pid, SIGCONT);
                if (seen) {
                    ASSERT_EQ(waitpid(pid, &status, 0), pid);
                    break;
                }
            }
            if (WIFEXITED(status) && WEXITSTATUS(status) == 0)
                continue;  // finished between two looks: try again
            caught = true;
            EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig);
            EXPECT_EQ(entries(dir).size(), 1u) << "only big.bin may remain";
        }
        EXPECT_TRUE(caught);
    }
}

}  // namespace
