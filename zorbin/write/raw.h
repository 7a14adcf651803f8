// The raw writer: an image as plain bytes, one file from its first address to its last.
#pragma once

#include "write/engine.h"
#include "image/image.h"
#include "image/ops.h"

namespace zb {

// Writes the bytes of [s.lo, s.end): the image's data where it has some, fill elsewhere.
// Data outside s is not written (the caller has cropped the image to it).
hex_result write_raw(const image& img, span_of s, unsigned char fill, const sink& out);

}  // namespace zb
