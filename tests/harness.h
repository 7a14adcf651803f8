// Runs the built programs end to end and gives tests a scratch directory.
#pragma once

#include <filesystem>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

namespace th {

struct result {
    std::string out;   // exact standard output bytes
    std::string err;   // exact standard error bytes
    int status = -1;   // exit status, or 128 + signal number
};

struct options {
    std::string cwd;                    // empty: the test's own
    std::string in;                     // standard input bytes
    std::vector<std::string> set_env;   // "NAME=value", added or replacing
    std::vector<std::string> unset_env; // names removed
    std::string stdout_path;            // when set, standard output goes to this file
                                        // (for example /dev/full) instead of result.out
    long long file_size_limit = 0;      // when set, no file of the run grows past this many
                                        // bytes, as under ulimit -f: SIGXFSZ at its default,
                                        // which ends a program that does not ignore it
    unsigned run_as = 0;                // when set and the tests run as root: the user and
                                        // group id the program runs as, a user with no
                                        // privilege over other users' files. It runs a copy
                                        // of the program that such a user can reach, as the
                                        // build may lie where only its owner may enter
};

// The programs under test: those of this build, or others named by the environment, such as
// the Windows programs run under Wine from this Linux build:
//   FWKIT_TEST_BIN_DIR   their directory
//   FWKIT_TEST_SUFFIX    what their file names end in (".exe")
//   FWKIT_TEST_EMULATOR  the command that runs them, words separated by blanks ("wine")
// Path of a program under test, such as bin("zorbin").
std::string bin(std::string_view name);

// True when the programs under test are Windows programs, where a test must say how the two
// systems differ.
bool windows();

// For a case that cannot exist on Windows (Linux device names, resource limits, POSIX
// permissions): true, with the reason in the test's output, when the programs under test are
// Windows programs.
bool not_on_windows(std::string_view reason);

// argv[0] as the program's C runtime gives it to main when run() starts it: its path, or
// under Wine its DOS path (Z:\...\kelvash.exe), whatever the caller passes.
std::string invoked(std::string_view name);

// Path of a file under samples/.
std::string sample(std::string_view name);

// Runs the executable at path with exactly argv (argv[0] included), no shell in between.
result run_argv(const std::string& path, const std::vector<std::string>& argv,
                const options& opt = {});

// A program under test as a shell command starts it: its path, behind the emulator's words.
std::string command(std::string_view prog);

// Runs a program under test with argv[0] = its path and args after it, through the emulator
// when there is one.
result run(std::string_view prog, const std::vector<std::string>& args, const options& opt = {});

std::string read_file(const std::filesystem::path& p);

// The blank-separated words of s.
std::vector<std::string> words(const std::string& s);

// The lines, each ended by CR LF, as zorbin writes them.
std::string lines(std::initializer_list<std::string_view> ls);
void write_file(const std::filesystem::path& p, std::string_view bytes);

// True when the named tool is on PATH.
bool have_tool(const char* name);

// Full path of the named tool on PATH (the name itself when there is none): run_argv takes
// no shell and searches nothing.
std::string which(const std::string& name);

// True when the tests run with the rights of the superuser, which passes every permission.
bool privileged();

// True in the tests built for Windows, whose direct calls into the core meet Windows.
bool built_for_windows();

// True where every tool and privilege the tests use is there (CI=true, or REQUIRE_ORACLES=1):
// a test that would skip for want of one fails instead.
bool all_required();

// What is wrong with the system for a test that leans on one of its files: empty when
// /dev/stdout is a symbolic link to the descriptor (/proc/self/fd/1), /dev/full a character
// device that may be written, or /dev/shm a directory that may be written, as on any Linux
// system; otherwise the fault, so that a broken system is not taken for a broken kit.
std::string system_fault(std::string_view file);

// A directory of the caller's own under parent, made as mkdtemp makes one: a name no other run
// holds, open to its owner alone. Removed with all it holds when it goes.
struct private_dir {
    explicit private_dir(const std::filesystem::path& parent = std::filesystem::temp_directory_path());
    ~private_dir();
    private_dir(const private_dir&) = delete;
    private_dir& operator=(const private_dir&) = delete;
    std::filesystem::path path;
};

// A fresh temporary directory per test, removed afterwards.
class tmpdir : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    std::filesystem::path dir;
    std::string path(std::string_view name) const { return (dir / name).string(); }
    options in_dir() const { options o; o.cwd = dir.string(); return o; }
};

// A copy of the build tree from, at to, whose install scripts name the copy: cmake --install
// writes its manifest into the build tree the scripts name, so installing from the build
// itself would rewrite the user's install_manifest.txt.
void copy_build(const std::filesystem::path& from, const std::filesystem::path& to);

}  // namespace th

// Skips the test with the reason why when what it needs is not there, or fails it where
// everything is required (th::all_required).
#define REQUIRE_THAT(cond, why)                                                        \
    do {                                                                               \
        if (!(cond)) {                                                                 \
            if (th::all_required())                                                    \
                FAIL() << why << " (required here: CI=true or REQUIRE_ORACLES=1)";     \
            GTEST_SKIP() << why;                                                       \
        }                                                                              \
    } while (0)

// A tool the test runs, such as an oracle.
#define REQUIRE_TOOL(name) REQUIRE_THAT(th::have_tool(name), "tool " << (name) << " is not installed")

// The rights of the superuser, for files of other users and mounts of the test's own.
#define REQUIRE_PRIVILEGE(what) REQUIRE_THAT(th::privileged(), "needs root: " << what)

// The rest of a test that has no counterpart on Windows: what it checked up to here stands, and
// under Wine the test reports a skip with the reason rather than a pass.
#define SKIP_REST_ON_WINDOWS(why)                                                      \
    do {                                                                               \
        if (th::windows())                                                             \
            GTEST_SKIP() << "not on Windows: " << why;                                 \
    } while (0)

// A system file the test leans on, as th::system_fault checks it.
#define REQUIRE_SYSTEM_FILE(file) \
    REQUIRE_THAT(th::system_fault(file).empty(), "the system is at fault, not the kit: " << th::system_fault(file))
