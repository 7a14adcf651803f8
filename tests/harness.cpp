// What the tests share on every system: the programs under test, sample files and scratch
// directories. Starting processes is the system's part (harness_posix.cpp, harness_win32.cpp).
#include "harness.h"

#include <cstdlib>
#include <fstream>
#include <iostream>
#include <random>
#include <sstream>
#include <stdexcept>

namespace th {

namespace {

std::string env_or(const char* name, const std::string& fallback)
{
    const char* v = std::getenv(name);
    return v && *v ? v : fallback;
}

const std::vector<std::string>& emulator()
{
    static const std::vector<std::string> prefix = words(env_or("FWKIT_TEST_EMULATOR", ""));
    return prefix;
}

}  // namespace

std::vector<std::string> words(const std::string& s)
{
    std::vector<std::string> w;
    std::istringstream in(s);
    for (std::string word; in >> word;)
        w.push_back(word);
    return w;
}

std::string bin(std::string_view name)
{
    static const std::string dir = env_or("FWKIT_TEST_BIN_DIR", FWKIT_BIN_DIR);
    static const std::string suffix = env_or("FWKIT_TEST_SUFFIX", FWKIT_PROGRAM_SUFFIX);
    return dir + "/" + std::string(name) + suffix;
}

bool windows() { return bin("").ends_with(".exe"); }

bool not_on_windows(std::string_view reason)
{
    if (windows())
        std::cout << "[ NOT ON WINDOWS ] " << reason << std::endl;
    return windows();
}

std::string invoked(std::string_view name)
{
    std::string path = bin(name);
    if (!windows() || !path.starts_with('/'))
        return path;
    // Wine hands the program the DOS form of the Unix path it was given.
    for (char& c : path)
        if (c == '/')
            c = '\\';
    return "Z:" + path;
}

std::string sample(std::string_view name)
{
    return std::string(FWKIT_SOURCE_DIR "/samples/") + std::string(name);
}

namespace {

// With FWKIT_TEST_STARTS naming a file, the name of every test that starts a program under
// test goes into it, once: the Windows run tells those apart from the tests that only call
// the Linux core.
void note_start()
{
    static std::string noted;
    const char* file = std::getenv("FWKIT_TEST_STARTS");
    const auto* t = ::testing::UnitTest::GetInstance()->current_test_info();
    if (!file || !*file || !t)
        return;
    std::string name = std::string(t->test_suite_name()) + "." + t->name();
    if (name == noted)
        return;
    noted = name;
    std::ofstream(file, std::ios::app) << name << "\n";
}

}  // namespace

std::string command(std::string_view prog)
{
    note_start();
    std::string c;
    for (const auto& w : emulator())
        c += w + " ";
    return c + bin(prog);
}

result run(std::string_view prog, const std::vector<std::string>& args, const options& opt)
{
    note_start();
    std::vector<std::string> argv = emulator();
    argv.push_back(bin(prog));
    argv.insert(argv.end(), args.begin(), args.end());
    return run_argv(emulator().empty() ? argv[0] : which(emulator()[0]), argv, opt);
}

std::string lines(std::initializer_list<std::string_view> ls)
{
    std::string s;
    for (auto l : ls) {
        s += l;
        s += "\r\n";
    }
    return s;
}

std::string read_file(const std::filesystem::path& p)
{
    std::ifstream f(p, std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

void write_file(const std::filesystem::path& p, std::string_view bytes)
{
    std::ofstream f(p, std::ios::binary | std::ios::trunc);
    f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

bool have_tool(const char* name) { return which(name) != name; }

bool all_required()
{
    return env_or("CI", "") == "true" || env_or("REQUIRE_ORACLES", "") == "1";
}


namespace {

// A directory under parent by a name nobody held: created, not found. Empty when there is none.
std::filesystem::path fresh_dir(const std::filesystem::path& parent)
{
    std::random_device rd;
    for (int attempt = 0; attempt < 100; attempt++) {
        auto d = parent / ("fwkit-test-" + std::to_string(rd()));
        std::error_code ec;
        if (std::filesystem::create_directory(d, ec))
            return d;
    }
    return {};
}

}  // namespace

private_dir::private_dir(const std::filesystem::path& parent) : path(fresh_dir(parent))
{
    if (path.empty())
        throw std::runtime_error("no private directory under " + parent.string());
    std::filesystem::permissions(path, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::replace);
}

private_dir::~private_dir()
{
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
}

void tmpdir::SetUp()
{
    dir = fresh_dir(std::filesystem::temp_directory_path());
    if (dir.empty())
        FAIL() << "no scratch directory";
}

void tmpdir::TearDown()
{
    std::error_code ec;
    if (!dir.empty())
        std::filesystem::remove_all(dir, ec);
}

// Built files are linked, not copied, where the file system allows; the scripts and the
// manifest are the copy's own.
void copy_build(const std::filesystem::path& from, const std::filesystem::path& to)
{
    const std::string old_path = from.string(), new_path = to.string();
    std::filesystem::create_directory(to);
    namespace fs = std::filesystem;
    for (auto it = fs::recursive_directory_iterator(from); it != fs::recursive_directory_iterator(); ++it) {
        const std::filesystem::path name = it->path().filename();
        const std::filesystem::path dest = to / it->path().lexically_relative(from);
        if (it->is_directory() && !it->is_symlink()) {
            if (name == "Testing" || name == "_CPack_Packages")
                it.disable_recursion_pending();
            else
                std::filesystem::create_directory(dest);
        } else if (it->is_symlink()) {
            std::filesystem::create_symlink(std::filesystem::read_symlink(it->path()), dest);
        } else if (name == "cmake_install.cmake") {
            std::string text = read_file(it->path());
            for (std::size_t at = 0; (at = text.find(old_path, at)) != std::string::npos;
                 at += new_path.size())
                text.replace(at, old_path.size(), new_path);
            write_file(dest, text);
        } else if (!name.string().starts_with("install_manifest")) {
            std::error_code ec;
            std::filesystem::create_hard_link(it->path(), dest, ec);
            if (ec)
                std::filesystem::copy_file(it->path(), dest);
        }
    }
}

}  // namespace th
