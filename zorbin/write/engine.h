// Hex record engine: image bytes at their addresses, written as one complete hex file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "formats/formats.h"
#include "formats/sink.h"
#include "image/image.h"

namespace zb {


// bad_layout: a record length or header the format's row does not take (layout_fits);
// refused: the row's own check refused the image (formats.h), before anything was written.
enum class hex_result { ok, too_big, entry_too_big, write_error, refused, bad_layout };

// -reclen and -header: the records' layout, where the format's row takes it.
struct record_layout {
    std::size_t reclen = 0;                   // data bytes of a full record; 0: the format's own
    std::optional<std::string_view> header;  // the text of the header record (S0)
};

// Whether format f's row takes the layout: the record length within its -reclen bounds, the
// header within its header record.
bool layout_fits(const format_row& f, const record_layout& layout);


// Inclusive address limit of a format (0xFFFF, 0xFFFFF, 0x3FFFF or 0xFFFFFFFF).
std::uint32_t format_limit(fmt format);

// Writes one complete hex file for buff loaded at file_base. The limit check happens before
// any byte is written: too_big means nothing at all went to the sink (the caller prints
// "Base and/or size too big for this format, max = 0x%X\n" with format_limit). Every line
// ends with "\r\n". filename is used only by the sdsmac start record.
hex_result bin2hex(std::span<const unsigned char> buff, fmt format, std::string_view filename,
                   std::uint32_t file_base, const sink& out);

// The same for an image of several blocks in ascending address order, in one file: the start
// text once, each block's records as bin2hex writes them for that block alone (mcs86 and
// intel32 open each further block with an extended address record), the end record once,
// counting every block's records. A format whose records carry no address writes the image
// as one block from its lowest to its highest address, the gaps filled with FF; the sdsmac
// start record gives that span as its byte count. Every block is checked against the limit
// before anything is written.
// entry, when given, goes into the end record of the formats that have an address field
// there (motorola32 S7, exormacs S8, exorciser S9; intel32 writes a start linear address
// record, type 05, before its end record); the other formats ignore it. An entry point past
// the field (entry_limit) is entry_too_big, again before anything is written, unless a block
// is too_big, which is told first. A format whose row has a check of its own is refused by
// it after those, before anything is written; wide is what the texts of whole memories take,
// container what the containers take (uf2, dfu, dfuse). layout, when given, sets the data
// bytes of a full record and puts a header record first; without it the records are the
// format's own.
hex_result write_image(std::span<const block> blocks, fmt format, std::string_view filename,
                       const sink& out, std::optional<std::uint64_t> entry = {},
                       const wide_args& wide = {}, const container_args& container = {},
                       const record_layout& layout = {});

// write_image by the row f, with format handed to the row's writers: the engine's one
// dispatch, a format of records to its record writer, any other to its writer of the whole
// file; every check as write_image makes it, before anything is written.
hex_result write_as(const format_row& f, fmt format, std::span<const block> blocks,
                    std::string_view filename, const sink& out,
                    std::optional<std::uint64_t> entry = {}, const wide_args& wide = {},
                    const container_args& container = {},
                    const record_layout& layout = {});

// Highest entry point the format's end record can carry; 0 when it carries none.
std::uint64_t entry_limit(fmt format);

// A sink that appends every block to *s (tests and benchmarks).
sink string_sink(std::string& s);

}  // namespace zb
