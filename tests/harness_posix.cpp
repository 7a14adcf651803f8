// Child processes for the end-to-end tests, on POSIX systems.
#include "harness.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sstream>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace th {

namespace {

std::vector<std::string> child_env(const options& opt)
{
    std::vector<std::string> env;
    auto named = [](const std::string& kv, const std::string& name) {
        return kv.compare(0, name.size(), name) == 0 && kv.size() > name.size() &&
               kv[name.size()] == '=';
    };
    for (char** e = environ; *e; e++) {
        std::string kv = *e;
        bool drop = false;
        for (auto& n : opt.unset_env)
            drop = drop || named(kv, n);
        for (auto& s : opt.set_env)
            drop = drop || named(kv, s.substr(0, s.find('=')));
        if (!drop)
            env.push_back(kv);
    }
    for (auto& s : opt.set_env)
        env.push_back(s);
    return env;
}

std::vector<char*> cvec(std::vector<std::string>& v)
{
    std::vector<char*> out;
    for (auto& s : v)
        out.push_back(s.data());
    out.push_back(nullptr);
    return out;
}

// True when every user may pass through every directory on the way to d.
bool open_to_all(const std::filesystem::path& d)
{
    for (std::filesystem::path p = d;; p = p.parent_path()) {
        struct stat st {};
        if (::stat(p.c_str(), &st) != 0 || !(st.st_mode & S_IXOTH))
            return false;
        if (p == p.root_path() || p.empty())
            return true;
    }
}

// A copy of the program at path that any user may run: another user cannot reach the build's
// own when the build lies in a folder only its owner may enter (a clone in a home directory
// or under mktemp -d). One copy of each program for the whole run, in a folder every user may
// enter, removed at exit.
std::string reachable_copy(const std::string& path)
{
    namespace fs = std::filesystem;
    static const fs::path tmp = fs::temp_directory_path();
    static private_dir copies(open_to_all(tmp) ? tmp : fs::path("/tmp"));
    static std::vector<std::pair<std::string, std::string>> made;
    for (auto& [from, to] : made)
        if (from == path)
            return to;
    fs::path to = copies.path / std::to_string(made.size());
    fs::create_directory(to);
    to /= fs::path(path).filename();
    fs::copy_file(path, to);
    const auto open = fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                      fs::perms::others_read | fs::perms::others_exec;
    fs::permissions(to, open);
    fs::permissions(to.parent_path(), open);
    fs::permissions(copies.path, open);
    made.emplace_back(path, to.string());
    return to.string();
}

}  // namespace

result run_argv(const std::string& path, const std::vector<std::string>& argv, const options& opt)
{
    int in[2], out[2], err[2];
    if (pipe2(in, O_CLOEXEC) || pipe2(out, O_CLOEXEC) || pipe2(err, O_CLOEXEC))
        throw std::runtime_error("pipe failed");
    std::vector<std::string> args = argv, env = child_env(opt);
    auto cargs = cvec(args), cenv = cvec(env);
    const bool other_user = opt.run_as != 0 && geteuid() == 0;
    const std::string exe = other_user ? reachable_copy(path) : path;
    const std::string refused = "cannot start " + exe + (other_user ? " as another user\n" : "\n");

    pid_t pid = fork();
    if (pid == 0) {
        dup2(in[0], 0);
        if (!opt.stdout_path.empty()) {
            int fd = open(opt.stdout_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
            if (fd < 0)
                _exit(125);
            dup2(fd, 1);
        } else {
            dup2(out[1], 1);
        }
        dup2(err[1], 2);
        if (opt.file_size_limit > 0) {
            // As a shell's ulimit -f leaves it: a write past the limit raises SIGXFSZ, whose
            // default ends the process unless the program itself sees to it. A Windows
            // program cannot, so under Wine the limit stands for a full disk and the signal is
            // ignored for it.
            signal(SIGXFSZ, windows() ? SIG_IGN : SIG_DFL);
            struct rlimit rl;
            rl.rlim_cur = rl.rlim_max = static_cast<rlim_t>(opt.file_size_limit);
            if (setrlimit(RLIMIT_FSIZE, &rl) != 0)
                _exit(124);
        }
        if (!opt.cwd.empty() && chdir(opt.cwd.c_str()) != 0)
            _exit(126);
        if (other_user &&
            (setgroups(0, nullptr) != 0 || setgid(opt.run_as) != 0 || setuid(opt.run_as) != 0))
            _exit(123);
        execve(exe.c_str(), cargs.data(), cenv.data());
        [[maybe_unused]] auto said = write(2, refused.data(), refused.size());
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    close(err[1]);

    result r;
    signal(SIGPIPE, SIG_IGN);
    size_t sent = 0;
    int infd = in[1];
    if (opt.in.empty()) {
        close(infd);
        infd = -1;
    }
    bool out_open = true, err_open = true;
    char buf[65536];
    while (out_open || err_open || infd >= 0) {
        pollfd p[3];
        int n = 0;
        if (out_open) p[n++] = {out[0], POLLIN, 0};
        if (err_open) p[n++] = {err[0], POLLIN, 0};
        if (infd >= 0) p[n++] = {infd, POLLOUT, 0};
        if (poll(p, n, -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        for (int k = 0; k < n; k++) {
            if (!p[k].revents) continue;
            if (p[k].fd == infd) {
                ssize_t w = write(infd, opt.in.data() + sent, opt.in.size() - sent);
                if (w > 0) sent += static_cast<size_t>(w);
                if (w < 0 || sent == opt.in.size()) {
                    close(infd);
                    infd = -1;
                }
                continue;
            }
            ssize_t got = read(p[k].fd, buf, sizeof buf);
            std::string& dst = p[k].fd == out[0] ? r.out : r.err;
            if (got > 0) {
                dst.append(buf, static_cast<size_t>(got));
            } else {
                (p[k].fd == out[0] ? out_open : err_open) = false;
            }
        }
    }
    close(out[0]);
    close(err[0]);
    int st = 0;
    waitpid(pid, &st, 0);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
    return r;
}

std::string which(const std::string& name)
{
    const char* path = std::getenv("PATH");
    std::istringstream dirs(path ? path : "/usr/bin:/bin");
    for (std::string dir; std::getline(dirs, dir, ':');) {
        std::string cand = (dir.empty() ? "." : dir) + "/" + name;
        if (access(cand.c_str(), X_OK) == 0)
            return cand;
    }
    return name;
}

bool built_for_windows() { return false; }

bool privileged() { return geteuid() == 0; }

std::string system_fault(std::string_view file)
{
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path p(file);
    if (file == "/dev/stdout") {
        if (!fs::is_symlink(p, ec))
            return "/dev/stdout is not a symbolic link to the descriptor";
        auto to = fs::read_symlink(p, ec).string();
        if (to != "/proc/self/fd/1" && to != "/dev/fd/1")
            return "/dev/stdout leads to " + to + ", not to /proc/self/fd/1";
        return "";
    }
    if (file == "/dev/full") {
        if (!fs::is_character_file(p, ec))
            return "/dev/full is not a character device";
        if (::access("/dev/full", W_OK) != 0)
            return "/dev/full may not be written";
        return "";
    }
    if (file == "/dev/shm") {
        if (!fs::is_directory(p, ec))
            return "no /dev/shm directory";
        if (::access("/dev/shm", W_OK) != 0)
            return "/dev/shm may not be written";
        return "";
    }
    return std::string(file) + " is not a file the tests know how to check";
}

}  // namespace th
