// Safe replacement of output files: complete or untouched, never a stray temporary file.
#include "harness.h"

#include <atomic>
#include <cstring>
#include <sstream>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "fileio.h"
#include "platform.h"

namespace {

namespace fs = std::filesystem;
using fileio = th::tmpdir;

int entries(const fs::path& d)
{
    int n = 0;
    for ([[maybe_unused]] auto& e : fs::directory_iterator(d))
        n++;
    return n;
}

TEST_F(fileio, commit_replaces_and_abort_keeps_the_old_content)
{
    th::write_file(path("out"), "old");
    chmod(path("out").c_str(), 0640);

    fw::outfile f;
    ASSERT_EQ(fw::out_open(f, path("out")), 0);
    ASSERT_EQ(fw::write_all(f.fd, "half"), 0);
    fw::out_abort(f);
    EXPECT_EQ(th::read_file(path("out")), "old");
    EXPECT_EQ(entries(dir), 1) << "temporary file left behind";

    ASSERT_EQ(fw::out_open(f, path("out")), 0);
    EXPECT_EQ(th::read_file(path("out")), "old") << "the target changed before the commit";
    ASSERT_EQ(fw::write_all(f.fd, "new"), 0);
    ASSERT_EQ(fw::out_commit(f), 0);
    EXPECT_EQ(th::read_file(path("out")), "new");
    EXPECT_EQ(entries(dir), 1);
    struct stat st;
    ASSERT_EQ(stat(path("out").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u) << "an existing file keeps its permissions";
}

TEST_F(fileio, new_file_gets_the_mode_of_a_plain_create)
{
    mode_t old = umask(027);
    fw::outfile f;
    ASSERT_EQ(fw::out_open(f, path("fresh")), 0);
    ASSERT_EQ(fw::out_commit(f), 0);
    umask(old);
    struct stat st;
    ASSERT_EQ(stat(path("fresh").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
}

TEST_F(fileio, symbolic_link_replaces_the_file_it_leads_to)
{
    th::write_file(path("real"), "old");
    fs::create_symlink("real", dir / "link");
    fw::outfile f;
    ASSERT_EQ(fw::out_open(f, path("link")), 0);
    ASSERT_EQ(fw::write_all(f.fd, "new"), 0);
    ASSERT_EQ(fw::out_commit(f), 0);
    EXPECT_TRUE(fs::is_symlink(dir / "link"));
    EXPECT_EQ(th::read_file(path("real")), "new");
}

TEST_F(fileio, descriptor_names_are_written_directly)
{
    // /dev/stdout and /proc/self/fd/N stand for an open descriptor: the file behind it must
    // receive the bytes, not be swapped for another file by a rename.
    th::write_file(path("held"), "");
    int held = open(path("held").c_str(), O_WRONLY);
    ASSERT_GE(held, 0);
    fw::outfile f;
    ASSERT_EQ(fw::out_open(f, "/proc/self/fd/" + std::to_string(held)), 0);
    EXPECT_TRUE(f.tmp.empty());
    ASSERT_EQ(fw::write_all(f.fd, "data"), 0);
    ASSERT_EQ(fw::out_commit(f), 0);
    close(held);
    EXPECT_EQ(th::read_file(path("held")), "data");
    EXPECT_EQ(entries(dir), 1);

    ASSERT_EQ(fw::out_open(f, "/dev/null"), 0);
    EXPECT_TRUE(f.tmp.empty());
    EXPECT_EQ(fw::out_commit(f), 0);
}

TEST_F(fileio, failures_are_those_of_a_plain_create)
{
    fw::outfile f;
    EXPECT_EQ(fw::out_open(f, path("no/such/dir/out")), ENOENT);
    EXPECT_EQ(fw::out_open(f, ""), ENOENT);
    fs::create_directory(dir / "sub");
    EXPECT_EQ(fw::out_open(f, path("sub")), EISDIR);
    EXPECT_EQ(entries(dir), 1);
}

TEST_F(fileio, file_in_a_locked_directory_is_refused_and_kept)
{
    fs::create_directory(dir / "locked");
    th::write_file(dir / "locked" / "out", "old");
    chmod((dir / "locked" / "out").c_str(), 0666);
    chmod((dir / "locked").c_str(), 0555);
    // Root may add to any directory: the open runs in a child as a user without that right.
    pid_t pid = fork();
    if (pid == 0) {
        const unsigned nobody = 65534;
        if (geteuid() == 0 && (setgid(nobody) != 0 || setuid(nobody) != 0))
            _exit(255);
        fw::outfile f;
        _exit(fw::out_open(f, (dir / "locked" / "out").string()));
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    chmod((dir / "locked").c_str(), 0755);
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), EACCES);
    EXPECT_EQ(th::read_file(dir / "locked" / "out"), "old");
}

TEST_F(fileio, only_descriptor_names_are_written_directly)
{
    // Regular files under /dev and /proc are files like any other.
    for (const char* name : {"/dev/fd/1", "/dev/stdout", "/proc/self/fd/1", "/proc/1/fd/0"})
        EXPECT_TRUE(fw::descriptor_name(name)) << name;
    for (const char* name : {"/dev/shm/out.hex", "/dev/fd/1x", "/proc/self/fdx/1", "/proc/x/fd/1",
                             "/proc/1/fd/", "/devx/stdout", "dev/stdout"})
        EXPECT_FALSE(fw::descriptor_name(name)) << name;
}

TEST_F(fileio, links_and_what_an_input_may_be)
{
    fs::create_symlink("b", dir / "a");
    fs::create_symlink("a", dir / "b");
    fw::outfile f;
    EXPECT_EQ(fw::out_open(f, path("a")), ELOOP);
    EXPECT_EQ(fw::out_open(f, path("a/x")), ELOOP);

    // An old file with another link is rewritten in place: both names see the output.
    th::write_file(path("one"), "old content");
    fs::create_hard_link(dir / "one", dir / "two");
    ASSERT_EQ(fw::out_open(f, path("one")), 0);
    EXPECT_TRUE(f.in_place);
    ASSERT_EQ(fw::write_all(f.fd, "new"), 0);
    EXPECT_EQ(th::read_file(path("two")), "old content") << "touched before the commit";
    ASSERT_EQ(fw::out_commit(f), 0);
    EXPECT_EQ(th::read_file(path("two")), "new");
    EXPECT_EQ(entries(dir), 4);

    struct {
        const char* name;
        int err;
        std::uint64_t size;
    } inputs[] = {{"/dev/null", 0, 0}, {"/dev/zero", ESPIPE, 0}, {"/tmp", EISDIR, 0}};
    for (const auto& c : inputs) {
        int fd = open(c.name, O_RDONLY);
        ASSERT_GE(fd, 0);
        fw::input in;
        EXPECT_EQ(fw::in_check(fd, in), c.err) << c.name;
        EXPECT_EQ(in.size, c.size);
        close(fd);
    }
    int p[2];
    ASSERT_EQ(pipe(p), 0);
    fw::input in;
    EXPECT_EQ(fw::in_check(p[0], in), ESPIPE);
    close(p[0]);
    close(p[1]);
}

// The lock requests that wait in this process for a lock another holds, as /proc/locks lists
// them ("1: -> FLOCK  ADVISORY  WRITE pid dev:inode 0 EOF"), on the file with inode ino.
int flock_waiters(ino_t ino)
{
    std::istringstream locks(th::read_file("/proc/locks"));
    const std::string pid = std::to_string(getpid()), inode = std::to_string(ino);
    int n = 0;
    for (std::string line; std::getline(locks, line);) {
        auto w = th::words(line);
        n += w.size() >= 7 && w[1] == "->" && w[2] == "FLOCK" && w[5] == pid &&
             w[6].substr(w[6].rfind(':') + 1) == inode;
    }
    return n;
}

// Two runs writing one output that has another link (make -j with two rules for one file)
// take turns: the copy into the old file waits while another writer holds its lock, so their
// bytes never mix. The commit is seen waiting on the lock itself, not given time to finish:
// one that ignored the lock would finish without ever waiting, however slow.
TEST_F(fileio, an_in_place_rewrite_waits_for_another_writer)
{
    REQUIRE_THAT(fs::exists("/proc/locks"), "the system is at fault, not the kit: no /proc/locks");
    th::write_file(path("one"), "old content");
    fs::create_hard_link(dir / "one", dir / "two");
    int other = open(path("two").c_str(), O_RDWR);
    ASSERT_GE(other, 0);
    ASSERT_EQ(flock(other, LOCK_EX), 0);
    struct stat st {};
    ASSERT_EQ(fstat(other, &st), 0);
    ASSERT_EQ(flock_waiters(st.st_ino), 0);
    fw::outfile f;
    ASSERT_EQ(fw::out_open(f, path("one")), 0);
    ASSERT_TRUE(f.in_place);
    ASSERT_EQ(fw::write_all(f.fd, "new"), 0);
    std::atomic<int> got{-1};
    std::thread commit([&] { got = fw::out_commit(f); });
    bool waits = false;
    while (!waits && got == -1) {
        waits = flock_waiters(st.st_ino) == 1;
        std::this_thread::yield();
    }
    EXPECT_TRUE(waits) << "the commit went ahead while another writer held the file";
    EXPECT_EQ(th::read_file(path("two")), "old content");
    flock(other, LOCK_UN);
    close(other);
    commit.join();
    EXPECT_EQ(got, 0);
    EXPECT_EQ(th::read_file(path("two")), "new");
    EXPECT_EQ(entries(dir), 2);
}

// The temporary file is named relative to its directory: an output whose own path is close to
// the system's limit, and so accepted by a plain create, is accepted here, new or old, replaced
// or rewritten in place.
TEST_F(fileio, a_path_as_long_as_a_plain_create_takes)
{
    // Directories of 200 characters, the last one cut so that "/o" ends the path at 4,094.
    fs::path d = dir;
    while (d.string().size() + 1 + 200 + 2 < 4094)
        d /= std::string(200, 'd');
    d /= std::string(4094 - d.string().size() - 1 - 2, 'd');
    fs::create_directories(d);
    const std::string out = (d / "o").string();
    ASSERT_EQ(out.size(), 4094u);
    int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    ASSERT_GE(fd, 0) << "a plain create refuses it: " << std::strerror(errno);
    close(fd);
    fs::remove(out);

    fw::outfile f;
    for (const char* step : {"new", "replaced", "in place"}) {
        SCOPED_TRACE(step);
        if (std::string_view(step) == "in place")
            fs::create_hard_link(out, d / "l");
        ASSERT_EQ(fw::out_open(f, out), 0);
        ASSERT_EQ(fw::write_all(f.fd, step), 0);
        ASSERT_EQ(fw::out_commit(f), 0);
        EXPECT_EQ(th::read_file(out), step);
        EXPECT_EQ(entries(d), std::string_view(step) == "in place" ? 2 : 1);
    }
    ASSERT_EQ(fw::out_open(f, out), 0);
    fw::out_abort(f);
    EXPECT_EQ(th::read_file(out), "in place");
    EXPECT_EQ(entries(d), 2);
}

TEST(crlf, every_newline_becomes_cr_lf)
{
    EXPECT_EQ(fw::crlf(""), "");
    EXPECT_EQ(fw::crlf("a\nb\n"), "a\r\nb\r\n");
    EXPECT_EQ(fw::crlf("\r\n"), "\r\r\n") << "an existing CR is data, as in a text-mode stream";
}

// An input cut short by another process while it is mapped: the read past its new end
// ends the run as a failed read would, its message on standard output, status 1, and the
// temporary file of the output being written removed.
TEST_F(fileio, a_mapped_input_cut_short_ends_the_run_as_a_failed_read)
{
    th::write_file(path("in"), std::string(3 * 4096, 'x'));
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        dup2(out[1], 1);
        int fd = fw::open_read(path("in").c_str());
        const unsigned char* p = fw::map_input(fd, 3 * 4096, "Error reading in\r\n");
        fw::outfile f;
        if (!p || fw::out_open(f, path("out")) != 0 || truncate(path("in").c_str(), 0) != 0)
            _exit(2);
        volatile unsigned char last = p[3 * 4096 - 1];
        (void)last;
        _exit(3);
    }
    close(out[1]);
    char buf[64];
    const ssize_t n = read(out[0], buf, sizeof buf);
    close(out[0]);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_EQ(std::string(buf, n > 0 ? static_cast<std::size_t>(n) : 0), "Error reading in\r\n");
    EXPECT_EQ(entries(dir), 1) << "temporary file left behind";
}

}  // namespace
