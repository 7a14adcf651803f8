// What the kelvash tests share: a scratch directory to run kelvash in, the usage text as the
// user sees it, and the load-file header spelled out field by field.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "harness.h"

namespace kt {

// The name every message begins with: argv[0] of every run through fixture::run.
inline const std::string prog = th::invoked("kelvash");

inline std::string usage(const std::string& name = prog)
{
    return "Usage:\t" + name +
           " {-a|-r} [-l <load_address>] [-v] [-d <defaults_file>]\n"
           "\t[-n <task_name>] [-p <priority>] [-c [G][F]]\n"
           "\t[-m [A][N][T][S]] [-e <entry_point>] [-s <supv_stack_size>]\n"
           "\t[-u <user_stack_size>] [-o <out_file>] <filename>\n";
}

// A message of kelvash's own.
inline std::string msg(const std::string& text, const std::string& name = prog)
{
    return name + ": " + text + "\n";
}

// The 81 header characters: tag, name bytes, then nine 32-bit fields in hex.
struct header {
    std::string tag = "SRECA";
    std::string name = "LDBL";
    std::uint32_t priority = 0, supv = 0, user = 0, cflags = 0, smode = 0, entry = 0;
    std::uint32_t size = 0, start = 0;

    std::string text() const
    {
        std::string h = tag + name;
        for (std::uint32_t v : {priority, supv, user, cflags, smode, entry, 1u, size, start}) {
            char buf[9];
            std::snprintf(buf, sizeof buf, "%08X", static_cast<unsigned>(v));
            h += buf;
        }
        return h;
    }
};

class fixture : public th::tmpdir {
protected:
    // Runs kelvash in the scratch directory; POSIX_ME_HARDER is removed unless opt sets it.
    th::result run(const std::vector<std::string>& args, th::options opt = {}) const
    {
        opt.cwd = dir.string();
        bool harder = false;
        for (auto& s : opt.set_env)
            harder = harder || s.rfind("POSIX_ME_HARDER=", 0) == 0;
        if (!harder)
            opt.unset_env.push_back("POSIX_ME_HARDER");
        return th::run("kelvash", args, opt);
    }

    void put(const std::string& name, const std::string& bytes) const { th::write_file(dir / name, bytes); }
    std::string get(const std::string& name) const { return th::read_file(dir / name); }
    bool exists(const std::string& name) const { return std::filesystem::exists(dir / name); }

    // Names in the scratch directory other than the given ones: leftovers of a failed run.
    std::vector<std::string> others(const std::vector<std::string>& known) const
    {
        std::vector<std::string> out;
        for (auto& e : std::filesystem::directory_iterator(dir)) {
            std::string n = e.path().filename().string();
            bool k = false;
            for (auto& x : known)
                k = k || x == n;
            if (!k)
                out.push_back(n);
        }
        return out;
    }
};

// A small S-record task: S1 records for 0x1000..0x101F and an S9 with entry 0x1000.
inline const std::string small_srec =
    "S00600004844521B\n"
    "S1131000000102030405060708090A0B0C0D0E0F64\n"
    "S1131010101112131415161718191A1B1C1D1E1F54\n"
    "S9031000EC\n";

}  // namespace kt
