// zorbin against both objcopys on generated real links: random linker scripts for ARM (either
// byte order) and a few host ELF64 links, linked by GNU ld, converted by all three, and the
// memory images read back by srec_cat compared address for address under the load-address
// rule of docs/zorbin.md, the entry points with GNU objcopy's. FWKIT_ELF_LINKS=N links from
// FWKIT_ELF_SEED=S on (50 from 1); FWKIT_ELF_KEEP=DIR keeps each link's files in DIR/S.
#include "harness.h"

#include <cstdlib>
#include <iostream>
#include <map>
#include <set>

namespace {

namespace fs = std::filesystem;

// splitmix64: the same draws on every system, which <random>'s distributions do not promise.
struct rng {
    std::uint64_t s;
    std::uint64_t next()
    {
        std::uint64_t z = (s += 0x9E3779B97F4A7C15);
        z = (z ^ z >> 30) * 0xBF58476D1CE4E5B9;
        z = (z ^ z >> 27) * 0x94D049BB133111EB;
        return z ^ z >> 31;
    }
    std::uint64_t below(std::uint64_t n) { return next() % n; }
    bool chance(int percent) { return below(100) < static_cast<std::uint64_t>(percent); }
};

std::string hex(std::uint64_t v)
{
    char b[24];
    std::snprintf(b, sizeof b, "0x%llX", static_cast<unsigned long long>(v));
    return b;
}

std::string random_bytes(rng& g, std::uint64_t n)
{
    std::string b;
    while (b.size() < n)
        b += static_cast<char>(g.below(256));
    return b;
}

// One link: its source, script, .incbin inputs and the sections objcopy adds after linking.
struct plan {
    bool host = false, big = false;
    std::string src, script;
    std::vector<std::pair<std::string, std::string>> files;
    std::vector<std::pair<std::string, std::uint64_t>> adds;  // name (file name.bin), address
};

plan draw(rng& g)
{
    plan p;
    p.host = g.chance(8);
    p.big = !p.host && g.chance(30);
    constexpr std::uint64_t flashes[] = {0x08000000, 0, 0x00100000, 0x60000000};
    constexpr std::uint64_t rams[] = {0x20010000, 0x10000000, 0x30000000, 0x00200000, 0x90000000};
    const std::uint64_t flash = p.host ? 0x400000 : flashes[g.below(4)];
    const std::uint64_t ram = p.host ? 0x600000 : 0x20000000;
    const std::uint64_t ram2 = p.host ? (g.chance(50) ? 0x800000 : 0x40000000) : rams[g.below(5)];
    const std::string type = p.host ? "@" : "%";
    const bool phdrs = g.chance(25), tls = g.chance(20), exidx = !p.host && g.chance(15);
    p.script = "MEMORY {\n  FLASH : ORIGIN = " + hex(flash) +
               ", LENGTH = 0x40000\n  RAM : ORIGIN = " + hex(ram) +
               ", LENGTH = 0x10000\n  RAM2 : ORIGIN = " + hex(ram2) + ", LENGTH = 0x10000\n}\n";
    if (phdrs) {
        // Now and then every PT_LOAD at physical address 0, the case GNU objcopy ignores them in.
        const bool zero = g.chance(20);
        const std::string at0 = zero ? " AT (0)" : "";
        const std::string tl = tls ? "  tl PT_TLS;\n" : "";
        const bool tls_first = g.chance(50);
        p.script += "PHDRS {\n" + (tls_first ? tl : "") + "  fl PT_LOAD" + at0 + ";\n  ra PT_LOAD" +
                    at0 + ";\n  rb PT_LOAD AT (" + hex(zero ? 0 : flash + 0x38000) + ");\n" +
                    (tls_first ? "" : tl) + "}\n";
    }
    // The segments a section goes to under PHDRS: mostly its own kind's, now and then another
    // (a RAM section in the flash segment, run address outside it) or none.
    auto seg = [&](bool in_ram) {
        if (!phdrs)
            return std::string();
        const std::uint64_t r = g.below(10);
        return std::string(r == 0   ? " :NONE"
                           : r == 1 ? (in_ram ? " :fl" : " :ra")
                           : r == 2 ? " :rb"
                           : in_ram ? " :ra"
                                    : " :fl");
    };
    p.script += "SECTIONS {\n";
    p.src = p.host ? "" : ".syntax unified\n";
    const int n = 1 + static_cast<int>(g.below(6));
    for (int k = 0; k < n; ++k) {
        const std::string name = ".s" + std::to_string(k), ks = std::to_string(k);
        const std::uint64_t r = g.below(100);
        const std::uint64_t size = r < 10   ? 0
                                   : r < 60 ? 1 + g.below(64)
                                   : r < 95 ? 65 + g.below(600)
                                            : 1 + g.below(5000);
        // Where it goes: flash, RAM AT> flash, RAM, a fixed address, fixed with AT, NOLOAD.
        const std::uint64_t where = g.below(6);
        const char* flags[] = {"a", "ax", "aw"};
        p.src += ".section " + name + ",\"" + (where == 5 ? "aw" : flags[g.below(3)]) + "\"," +
                 type + "progbits\n.balign " + std::to_string(1 << g.below(4)) + "\n";
        if (k == 0)
            p.src += ".globl _start\n_start:\n";
        const std::string bytes = random_bytes(g, size);
        if (g.chance(50)) {
            p.files.push_back({"s" + ks + ".bin", bytes});
            p.src += ".incbin \"s" + ks + ".bin\"\n";
        } else {
            for (unsigned char c : bytes)
                p.src += ".byte " + std::to_string(c) + "\n";
        }
        const std::string in = " : { *(" + name + ") }";
        const std::string region = g.chance(50) ? "RAM" : "RAM2";
        if (g.chance(15)) {  // an empty section before it, kept though it holds nothing
            p.src += ".section .e" + ks + ",\"a\"," + type + "progbits\n";
            p.script += "  .e" + ks + " : { KEEP(*(.e" + ks + ")) } > " +
                        (g.chance(50) ? "FLASH" : "RAM AT> FLASH") + seg(false) + "\n";
        }
        const std::uint64_t slot = 0x1400 * static_cast<std::uint64_t>(k);
        const std::uint64_t fixed_run =
            (g.chance(50) ? flash + 0x20000 : (region == "RAM" ? ram : ram2) + 0x8000) + slot;
        const std::string lines[] = {
            name + in + " > FLASH" + seg(false),
            name + in + " > " + region + " AT> FLASH" + seg(true),
            name + in + " > " + region + seg(true),
            name + " " + hex(fixed_run) + in +
                seg(fixed_run >= flash + 0x40000 || fixed_run < flash),
            name + " " + hex((region == "RAM" ? ram : ram2) + 0x8000 + slot) + " : AT(" +
                hex(flash + 0x30000 + slot) + ") { *(" + name + ") }" + seg(true),
            name + " (NOLOAD)" + in + " > " + region + seg(true),
        };
        p.script += "  " + lines[where] + "\n";
    }
    if (tls) {
        p.src += ".section .tdata,\"awT\"," + type + "progbits\n";
        for (unsigned char c : random_bytes(g, 1 + g.below(32)))
            p.src += ".byte " + std::to_string(c) + "\n";
        p.src += ".section .tbss,\"awT\"," + type + "nobits\n.space " +
                 std::to_string(1 + g.below(16)) + "\n";
        const std::string region = g.chance(50) ? " > RAM" : " > RAM2";
        const std::string tl = phdrs ? (g.chance(50) ? " :ra :tl" : " :rb :tl") : "";
        p.script += "  .tdata : { *(.tdata) }" + region + (g.chance(80) ? " AT> FLASH" : "") + tl +
                    "\n  .tbss : { *(.tbss) }" + region + tl + "\n";
    }
    if (exidx) {
        p.src += ".section .x,\"ax\",%progbits\n.balign 4\n.fnstart\nbx lr\n.cantunwind\n.fnend\n";
        p.script += "  .x : { *(.x) } > FLASH" + seg(false) +
                    "\n  .ARM.exidx : { *(.ARM.exidx*) } > " +
                    (g.chance(70) ? "FLASH" : "RAM AT> FLASH") + (phdrs ? " :fl" : "") + "\n";
    }
    p.script += "}\n";
    // Signatures or checksums added after linking: past the flash contents, in RAM2, in a gap.
    for (int k = 0, adds = g.chance(25) ? 1 + static_cast<int>(g.below(2)) : 0; k < adds; ++k) {
        const std::uint64_t at[] = {flash + 0x3F000, ram2 + 0xF000, flash + 0x1F000};
        const std::string name = ".sig" + std::to_string(k);
        p.files.push_back({name.substr(1) + ".bin", random_bytes(g, 1 + g.below(64))});
        p.adds.push_back({name, at[g.below(3)] + 0x100 * static_cast<std::uint64_t>(k)});
    }
    return p;
}

th::result tool(const std::vector<std::string>& argv, const th::options& o)
{
    return th::run_argv(th::which(argv[0]), argv, o);
}

// Assembles, links and amends the plan into x.elf in o.cwd: "" or what failed.
std::string build(const plan& p, const th::options& o)
{
    const fs::path dir = o.cwd;
    th::write_file(dir / "x.s", p.src);
    th::write_file(dir / "x.ld", p.script);
    for (const auto& [name, bytes] : p.files)
        th::write_file(dir / name, bytes);
    const std::string pre = p.host ? "" : "arm-none-eabi-";
    const std::string order = p.host ? "--64" : p.big ? "-EB" : "-EL";
    std::vector<std::vector<std::string>> steps{
        {pre + "as", order, "-o", "x.o", "x.s"},
        {pre + "ld", p.host ? "-melf_x86_64" : order, "-T", "x.ld", "-o", "x.elf", "x.o"}};
    for (const auto& [name, addr] : p.adds)
        steps.push_back({pre + "objcopy", "--add-section", name + "=" + name.substr(1) + ".bin",
                         "--set-section-flags", name + "=alloc,load,readonly,data,contents",
                         "--change-section-address", name + "=" + hex(addr), "x.elf"});
    for (const auto& s : steps)
        if (auto r = tool(s, o); r.status != 0)
            return s[0] + ": " + r.err;
    return fs::file_size(dir / "x.elf") > (4u << 20) ? "larger than 4 MiB" : "";
}

using image = std::map<std::uint64_t, unsigned char>;

// The memory image of a hex file as srec_cat reads it (empty for a file of no data records);
// false when srec_cat cannot read it.
bool read_image(const th::options& o, const std::string& file, const char* format, image& img)
{
    auto r = tool(
        {"srec_cat", file, format, "-o", "-", "-Motorola", "-address-length=4", "-Data_Only"}, o);
    for (std::size_t at = 0; r.status == 0 && at < r.out.size();) {
        const std::size_t end = r.out.find('\n', at);
        const std::string l = r.out.substr(at, end - at);
        at = end == std::string::npos ? r.out.size() : end + 1;
        if (!l.starts_with("S3"))
            continue;
        const std::uint64_t count = std::stoull(l.substr(2, 2), nullptr, 16);
        const std::uint64_t addr = std::stoull(l.substr(4, 8), nullptr, 16);
        for (std::uint64_t k = 0; k + 5 < count; ++k)
            img[addr + k] =
                static_cast<unsigned char>(std::stoul(l.substr(12 + 2 * k, 2), nullptr, 16));
    }
    return r.status == 0 || r.err.ends_with("file contains no data\n");
}

// The address of an S-record file's last record, its end record (S7, S8 or S9): the entry
// point, and the mask of its width. No hex digit is an S, so the last S starts it.
std::pair<std::uint64_t, std::uint64_t> entry_point(const std::string& srec)
{
    const std::size_t at = srec.find_last_of('S');
    if (at == std::string::npos || at + 4 > srec.size() || srec[at + 1] < '7')
        return {~std::uint64_t{0}, 0};
    const std::size_t digits = 2 * static_cast<std::size_t>('9' + 2 - srec[at + 1]);
    return {std::stoull(srec.substr(at + 4, digits), nullptr, 16), (1ull << 4 * digits) - 1};
}

// What the rule expects, read from the ELF headers by this reader of its own, and the facts
// that make the tools differ.
struct expected {
    image img;
    std::uint64_t entry = 0;
    bool overlap = false;
    std::set<std::string> facts;
    std::string headers;  // the program and section headers, for a failure's message
};

expected expect(const std::string& f)
{
    expected e;
    const bool wide = f[4] == 2, big = f[5] == 2;
    auto u = [&](std::uint64_t off, std::size_t n) {
        std::uint64_t v = 0;
        for (std::size_t k = 0; k < n; ++k)
            v |= std::uint64_t{static_cast<unsigned char>(f.at(off + (big ? n - 1 - k : k)))}
                 << 8 * k;
        return v;
    };
    const std::size_t w = wide ? 8 : 4;
    e.entry = u(24, w);
    struct seg {
        std::uint64_t type, off, vaddr, paddr, filesz, memsz;
    };
    std::vector<seg> segs;
    const std::uint64_t phoff = u(wide ? 32 : 28, w), phnum = u(wide ? 56 : 44, 2);
    for (std::uint64_t k = 0; k < phnum; ++k) {
        const std::uint64_t h = phoff + k * (wide ? 56 : 32), o = h + (wide ? 8 : 4);
        const seg s{u(h, 4),         u(o, w),         u(o + w, w),
                    u(o + 2 * w, w), u(o + 3 * w, w), u(o + 4 * w, w)};
        segs.push_back(s);
        if (s.type == 1 && s.off + s.filesz > f.size())
            e.facts.insert("PT_LOAD past the end of the file");
        char b[160];
        std::snprintf(b, sizeof b, "  type %s off %s vaddr %s paddr %s filesz %s memsz %s\n",
                      hex(s.type).c_str(), hex(s.off).c_str(), hex(s.vaddr).c_str(),
                      hex(s.paddr).c_str(), hex(s.filesz).c_str(), hex(s.memsz).c_str());
        e.headers += b;
    }
    std::vector<seg> loads;
    std::copy_if(segs.begin(), segs.end(), std::back_inserter(loads),
                 [](const seg& s) { return s.type == 1; });
    // No p_paddr filled in and more than one PT_LOAD taking memory: placed at run addresses.
    const bool zero =
        std::none_of(segs.begin(), segs.end(), [](const seg& s) { return s.paddr; }) &&
        std::count_if(loads.begin(), loads.end(), [](const seg& s) { return s.memsz; }) > 1;
    if (zero)
        e.facts.insert("every PT_LOAD at physical address 0");
    const std::uint64_t shoff = u(wide ? 40 : 32, w), shnum = u(wide ? 60 : 48, 2);
    const std::size_t shsize = wide ? 64 : 40;
    const std::uint64_t strtab = shoff + u(wide ? 62 : 50, 2) * shsize;
    for (std::uint64_t k = 1; k < shnum; ++k) {
        const std::uint64_t h = shoff + k * shsize;
        const std::uint64_t type = u(h + 4, 4), flags = u(h + 8, w), addr = u(h + 8 + w, w);
        const std::uint64_t off = u(h + 8 + 2 * w, w), size = u(h + 8 + 3 * w, w);
        const std::string name = f.c_str() + u(strtab + 8 + 2 * w, w) + u(h, 4);
        e.headers += "  " + name + " addr " + hex(addr) + " off " + hex(off) + " size " +
                     hex(size) + " type " + hex(type) + " flags " + hex(flags) + "\n";
        if ((flags & 2) == 0 || type == 8)
            continue;
        auto holds = [&](const seg& s) { return s.off <= off && off + size <= s.off + s.filesz; };
        // The holder of lowest file offset (the first of those): llvm-objcopy's choice.
        const seg* first = nullptr;
        for (const seg& s : segs)
            if (holds(s) && (!first || s.off < first->off))
                first = &s;
        // Of several PT_LOADs, the one reaching furthest, then the one beginning first.
        const seg* in = nullptr;
        for (const seg& s : loads)
            if (holds(s) && (!in || s.off + s.filesz > in->off + in->filesz ||
                             (s.off + s.filesz == in->off + in->filesz && s.off < in->off)))
                in = &s;
        // An empty section places nothing, whichever segment it is counted in.
        if (size == 0) {
            if (std::any_of(loads.begin(), loads.end(), [&](const seg& s) {
                    return off == s.off || off == s.off + s.filesz;
                }))
                e.facts.insert("an empty section at a PT_LOAD's edge");
            continue;
        }
        const std::uint64_t at = !in || zero ? addr : in->paddr + (off - in->off);
        if (!in)
            e.facts.insert(first && first->type == 7 ? "TLS in a PT_TLS, in no PT_LOAD"
                                                     : "a section in no PT_LOAD");
        else if (addr < in->vaddr || addr + size > in->vaddr + in->memsz)
            e.facts.insert("run address outside its segment");
        if (in && (flags & 0x400 || type == 0x70000001) && at != addr)
            e.facts.insert(std::string(flags & 0x400 ? "TLS" : ".ARM.exidx") +
                           " stored apart from its run address");
        if (first && first->type != 1 && at != addr)
            e.facts.insert(first->type == 7            ? "held first by PT_TLS"
                           : first->type == 0x70000001 ? "held first by PT_ARM_EXIDX"
                                                       : "held first by another type");
        if (first && first->type == 1 && first->off != in->off &&
            first->paddr - first->off != in->paddr - in->off)
            e.facts.insert("held by two PT_LOADs");
        if (at + size - 1 > 0xFFFFFFFF)
            e.facts.insert("a load address past 4 GiB");
        for (std::uint64_t b = 0; b < size; ++b)
            e.overlap |= !e.img.emplace(at + b, static_cast<unsigned char>(f.at(off + b))).second;
    }
    return e;
}

// "" when a and b hold the same bytes at the same addresses, else the first place they differ.
std::string difference(const image& a, const image& b)
{
    auto i = a.begin(), j = b.begin();
    while (i != a.end() && j != b.end() && *i == *j)
        ++i, ++j;
    if (i == a.end() && j == b.end())
        return "";
    auto says = [](const image& m, image::const_iterator it, std::uint64_t at) {
        return it == m.end() || it->first != at ? std::string("nothing") : hex(it->second);
    };
    const std::uint64_t at = i == a.end()   ? j->first
                             : j == b.end() ? i->first
                                            : std::min(i->first, j->first);
    return "at " + hex(at) + " " + says(a, a.find(at), at) + " against " + says(b, b.find(at), at) +
           " (" + std::to_string(a.size()) + " against " + std::to_string(b.size()) + " bytes)";
}

std::uint64_t env_number(const char* name, std::uint64_t fallback)
{
    const char* v = std::getenv(name);
    return v && *v ? std::stoull(v, nullptr, 0) : fallback;
}

// What the links showed: each class of link with its count and first seed.
struct tally {
    std::map<std::string, std::pair<int, std::uint64_t>> classes;
    std::map<std::string, int> facts;  // links each fact was seen in
    int redraws = 0, wide = 0, big = 0;
};

// The facts under which the two tools may part, or the rule may leave both: the docs' table.
constexpr const char* listed[] = {"held first by PT_TLS",
                                  "held first by PT_ARM_EXIDX",
                                  "run address outside its segment",
                                  "every PT_LOAD at physical address 0",
                                  "PT_LOAD past the end of the file",
                                  "TLS in a PT_TLS, in no PT_LOAD",
                                  "a load address past 4 GiB"};

// Draws and links one link in o.cwd, converts it with all three, and compares the images.
void check(std::uint64_t seed, const th::options& o, tally& t)
{
    rng g{seed};
    plan p;
    std::string failed = "no draw";
    for (int tries = 0; tries < 50 && !failed.empty(); ++tries, ++t.redraws)
        failed = build(p = draw(g), o);
    --t.redraws;
    ASSERT_EQ(failed, "") << "no draw of seed " << seed << " links";
    SCOPED_TRACE("seed " + std::to_string(seed) + "\n" + p.script);
    t.wide += p.host;
    t.big += p.big;
    const std::string pre = p.host ? "" : "arm-none-eabi-";
    const expected e = expect(th::read_file(fs::path(o.cwd) / "x.elf"));
    // A tool that refuses the file (GNU objcopy one without sections) gives no image; where
    // sections overlap, the tools write both, which srec_cat refuses to read.
    image gnu, llvm, zb;
    const bool gnu_ok = tool({pre + "objcopy", "-O", "srec", "x.elf", "g.srec"}, o).status == 0;
    const bool llvm_ok = tool({"llvm-objcopy", "-O", "ihex", "x.elf", "l.hex"}, o).status == 0;
    ASSERT_TRUE(!gnu_ok || read_image(o, "g.srec", "-Motorola", gnu) || e.overlap);
    ASSERT_TRUE(!llvm_ok || read_image(o, "l.hex", "-Intel", llvm) || e.overlap);
    auto z = th::run("zorbin", {"-motorola32", "x.elf", "z.srec"}, o);
    std::string facts, why;  // all, and those that may part the tools
    for (const auto& f : e.facts) {
        facts += "; " + f;
        ++t.facts[f];
        if (std::find(std::begin(listed), std::end(listed), f) != std::end(listed))
            why += "; " + f;
    }
    SCOPED_TRACE(e.headers + "facts" + facts);
    // What zorbin must refuse the file for, if anything.
    const std::string refusal = e.overlap                            ? "overlap"
                                : e.img.empty()                      ? "no loadable contents"
                                : e.img.rbegin()->first > 0xFFFFFFFF ? "too big for this format"
                                                                     : "";
    if (!refusal.empty()) {
        EXPECT_EQ(z.status, 1);
        EXPECT_NE(z.out.find(refusal), std::string::npos) << z.out;
    } else {
        ASSERT_EQ(z.status, 0) << z.out << z.err;
        ASSERT_TRUE(read_image(o, "z.srec", "-Motorola", zb));
        EXPECT_EQ(difference(zb, e.img), "") << "zorbin against the rule";
        // e_entry whole; GNU objcopy cuts it to an S8's or S9's width where the data fit one.
        const auto [entry, all] = entry_point(th::read_file(fs::path(o.cwd) / "z.srec"));
        const auto [gnu_entry, mask] = entry_point(th::read_file(fs::path(o.cwd) / "g.srec"));
        EXPECT_EQ(hex(entry), hex(e.entry));
        EXPECT_EQ(all, 0xFFFFFFFFu);
        EXPECT_TRUE(!gnu_ok || gnu_entry == (entry & mask))
            << hex(gnu_entry) << " from GNU objcopy";
    }
    const bool agree = gnu == llvm;
    if (!e.overlap && (!agree || gnu != e.img)) {
        EXPECT_NE(why, "") << (agree ? "the rule leaves both tools: " + difference(gnu, e.img)
                                     : "the tools part: " + difference(gnu, llvm));
    }
    std::string key = !refusal.empty() ? "zorbin refuses: " + refusal
                      : !llvm_ok || !gnu_ok
                          ? (gnu_ok ? "llvm-objcopy refuses" : "GNU objcopy refuses")
                      : agree ? (gnu == e.img ? "all agree" : "both tools agree, the rule differs")
                      : gnu == e.img  ? "tools differ, the rule is GNU's"
                      : llvm == e.img ? "tools differ, the rule is llvm's"
                                      : "tools differ, the rule is neither";
    if (refusal.empty() && zb != e.img)
        key += ", zorbin breaks the rule";
    auto& c = t.classes[key + why];
    if (c.first++ == 0)
        c.second = seed;
}

class zorbin_elf_diff : public th::tmpdir {};

TEST_F(zorbin_elf_diff, generated_links_agree_with_both_objcopys)
{
    for (const char* tool : {"arm-none-eabi-as", "arm-none-eabi-ld", "arm-none-eabi-objcopy", "as",
                             "ld", "objcopy", "llvm-objcopy", "srec_cat"})
        REQUIRE_TOOL(tool);
    const std::uint64_t first = env_number("FWKIT_ELF_SEED", 1),
                        count = env_number("FWKIT_ELF_LINKS", 50);
    const char* keep = std::getenv("FWKIT_ELF_KEEP");
    const testing::TestResult& result =
        *testing::UnitTest::GetInstance()->current_test_info()->result();
    tally t;
    std::string failing;
    for (std::uint64_t seed = first; seed < first + count; ++seed) {
        th::options o = in_dir();
        o.cwd = keep && *keep ? (fs::path(keep) / std::to_string(seed)).string() : path("link");
        fs::remove_all(o.cwd);
        fs::create_directories(o.cwd);
        const int failures = result.total_part_count();
        check(seed, o, t);
        if (result.total_part_count() != failures)
            failing += " " + std::to_string(seed);
    }
    std::cout << count << " links from seed " << first << " (" << t.wide << " ELF64, " << t.big
              << " big-endian), " << t.redraws << " redrawn\nfailing seeds:" << failing << "\n";
    for (const auto& [key, c] : t.classes)
        std::cout << "  " << c.first << " x " << key << " (first seed " << c.second << ")\n";
    for (const auto& [fact, n] : t.facts)
        std::cout << "  fact in " << n << " links: " << fact << "\n";
}

}  // namespace
