// mkaif: writes the sample AIF images into a directory (samples/ keeps the result):
//   app.aif     little-endian header words; a root of code and data at 0x8000, then a chain of
//               two further segments, VECTORS at 0x0 and CALTABLE at 0x20000
//   app-be.aif  the same image with every header word byte-reversed; data bytes unchanged
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace {

using bytes = std::vector<unsigned char>;

void put_word(bytes& b, std::size_t off, std::uint32_t v, bool big)
{
    for (int k = 0; k < 4; k++)
        b[off + k] = static_cast<unsigned char>(v >> (big ? 24 - 8 * k : 8 * k));
}

// Appends by resize and copy: g++ 12 warns wrongly about vector::insert of a range here.
void append(bytes& b, const bytes& d)
{
    std::size_t at = b.size();
    b.resize(at + d.size());
    std::copy(d.begin(), d.end(), b.begin() + static_cast<std::ptrdiff_t>(at));
}

void append_word(bytes& b, std::uint32_t v)
{
    b.resize(b.size() + 4);
    put_word(b, b.size() - 4, v, false);
}

// Root: sixteen MOV ri,#i (read-only area) and a 16-byte read-write area.
bytes root_data()
{
    bytes b;
    for (std::uint32_t i = 0; i < 16; i++)
        append_word(b, 0xE3A00000 | i << 12 | i);
    const char rw[16] = "fwkit demo data";
    b.insert(b.end(), rw, rw + 16);
    return b;
}

// The exception vectors: LDR pc,[pc,#0x18] in all eight.
bytes vectors()
{
    bytes b;
    for (int i = 0; i < 8; i++)
        append_word(b, 0xE59FF018);
    return b;
}

// A calibration table of 24 bytes: squares modulo 256.
bytes caltable()
{
    bytes b;
    for (unsigned i = 0; i < 24; i++)
        b.push_back(static_cast<unsigned char>(i * i));
    return b;
}

// fragment_header: next offset, load address, size, 32-byte NUL-padded name; data follows.
void append_segment(bytes& img, std::uint32_t next, std::uint32_t load, const std::string& name,
                    const bytes& data, bool big)
{
    std::size_t at = img.size();
    img.resize(at + 44);
    put_word(img, at, next, big);
    put_word(img, at + 4, load, big);
    put_word(img, at + 8, static_cast<std::uint32_t>(data.size()), big);
    for (std::size_t i = 0; i < name.size(); i++)
        img[at + 12 + i] = static_cast<unsigned char>(name[i]);
    append(img, data);
}

bytes image(bool big)
{
    bytes root = root_data(), vec = vectors(), cal = caltable();
    bytes img(128, 0);
    put_word(img, 0x00, 0xE1A00000, big);  // NOP: no decompression
    put_word(img, 0x04, 0xE1A00000, big);  // NOP: no self-relocation
    put_word(img, 0x08, 0xE1A00000, big);  // NOP: no zero-initialisation
    put_word(img, 0x0C, 0x00008000, big);  // entry address, not a BL: header stripped
    put_word(img, 0x10, 0xEF000011, big);  // SWI 0x11: the AIF marker
    put_word(img, 0x14, 0x40, big);        // read-only size
    put_word(img, 0x18, 0x10, big);        // read-write size
    put_word(img, 0x28, 0x8000, big);      // image base
    put_word(img, 0x30, 32, big);          // 32-bit address mode
    std::uint32_t first = static_cast<std::uint32_t>(img.size() + root.size());
    std::uint32_t second = first + 44 + static_cast<std::uint32_t>(vec.size());
    put_word(img, 0x38, first, big);       // the first further segment
    append(img, root);
    append_segment(img, second, 0x00000000, "VECTORS", vec, big);
    append_segment(img, 0, 0x00020000, "CALTABLE", cal, big);
    return img;
}

bool write(const std::string& path, const bytes& b)
{
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
    f.close();
    if (!f)
        std::fprintf(stderr, "mkaif: cannot write %s\n", path.c_str());
    return static_cast<bool>(f);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: mkaif <directory>\n");
        return 2;
    }
    std::string dir = argv[1];
    bool ok = write(dir + "/app.aif", image(false));
    ok = write(dir + "/app-be.aif", image(true)) && ok;
    return ok ? 0 : 1;
}
