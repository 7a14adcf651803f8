// The harness's system part in the tests built for Windows, which run only the core's own
// tests: the programs themselves are driven under Wine by the Linux build's tests.
#include "harness.h"

namespace th {

result run_argv(const std::string& path, const std::vector<std::string>&, const options&)
{
    ADD_FAILURE() << "the tests built for Windows start no program (" << path
                  << "): end-to-end runs belong to the Linux build's tests";
    return {};
}

std::string which(const std::string& name) { return name; }

bool built_for_windows() { return true; }

bool privileged() { return false; }

// The tests built for Windows lean on no system file.
std::string system_fault(std::string_view) { return ""; }

}  // namespace th
