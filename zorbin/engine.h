// zorbin/engine.h
#pragma once
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
namespace zb {
// Format numbers, as the command line's format table numbers them.
enum : int { cosmac = 1, fairbug, mostech, exorciser, mds, signetics, tektronix, exormacs,
             mcs86, sdsmac, motorola32, intel32, ihf };
// Where the records go: called with large blocks; returns false when the write failed
// (errno tells why), which stops the engine.
struct sink {
    void* ctx;
    bool (*write)(void* ctx, const char* data, std::size_t n);
};
enum class hex_result { ok, too_big, write_error };
// Inclusive address limit of a format (0xFFFF, 0xFFFFF, 0x3FFFF or 0xFFFFFFFF).
std::uint32_t format_limit(int format);
// Writes one complete hex file for buff loaded at file_base. The limit check happens before
// any byte is written: too_big means nothing at all went to the sink (the caller prints
// "Base and/or size too big for this format, max = 0x%X\n" with format_limit). Every line
// ends with "\r\n". filename is used only by the sdsmac start record.
hex_result bin2hex(std::span<const unsigned char> buff, int format, std::string_view filename,
                   std::uint32_t file_base, const sink& out);
// A sink that appends every block to *s (tests and benchmarks).
sink string_sink(std::string& s);
}
