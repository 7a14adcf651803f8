// kelvash defaults file: options in command-line notation that fill the task parameters the
// command line left at their markers.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "options.h"

namespace kv {

// At most this many tokens; entry 0 of the defaults vector is the scanner's name.
inline constexpr std::size_t max_tokens = 39;

// Splits text into the defaults vector: "kelvash", then the tokens. White space is exactly
// blank, tab, newline, vertical tab, form feed and carriage return; two or more of them after
// the last token leave one empty token at the end. False when there would be more than
// max_tokens.
bool defaults_vector(std::string_view text, std::vector<std::string_view>& vec);

// Reads the open defaults file fd (named path) and applies it in defaults mode. A NUL byte
// ends the text; reading stops at the first token past max_tokens. Its verdict and messages are
// those of apply_options.
found apply_defaults(int fd, std::string_view path, bool in_order, task& t, run_state& r,
                     std::string_view name);

}  // namespace kv
