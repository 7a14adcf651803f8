/* The self-checking sample: at reset it copies .data, then checks its own image against the
   two fields fwsum.ld places after it, as a boot loader would before starting an application:
     - a CRC-32 computed the way the STM32 CRC unit computes it when the image is written to its
       data register one 32-bit word at a time (polynomial 0x04C11DB7, initial 0xFFFFFFFF, each
       word most significant bit first, no reflection, no final XOR);
     - a SHA-256 digest of the image and the CRC field.
   The verdict goes out through semihosting, and the program exits with SYS_EXIT_EXTENDED so
   that QEMU exits with the status: 0 "fwsum: crc and sha256 check out", 1 "fwsum: crc wrong",
   2 "fwsum: sha256 wrong", 3 "fwsum: fault". Built as it is linked, with placeholders in the
   fields, it reports a wrong CRC.
     arm-none-eabi-gcc -mcpu=cortex-m3 -mthumb -O2 -ffreestanding -nostdlib \
       -fno-tree-loop-distribute-patterns -T fwsum.ld -o fwsum.elf fwsum.c */
#include <stddef.h>
#include <stdint.h>

extern uint32_t _sidata[], _sdata[], _edata[], _stack_top[];
/* Linker symbols: only their addresses mean anything. The two sizes are absolute. */
extern const unsigned char __image_start[], __image_size[], __signed_size[];

/* Read from flash at run time, never folded to the placeholders they are linked with. */
__attribute__((section(".crc"), used)) const volatile uint32_t image_crc = 0xFFFFFFFF;
__attribute__((section(".sha"), used)) const volatile unsigned char image_sha256[32] = {
    [0 ... 31] = 0xFF};

/* Data whose initial values the image carries, so .data belongs to what is checked. */
volatile uint32_t boot_count = 0x600DF00D;

void reset(void);
static void fault(void);

__attribute__((section(".vectors"), used)) static void (*const vectors[])(void) = {
    (void (*)(void))_stack_top, reset, fault, fault};

static void semihost(int op, const void* arg)
{
    register int r0 __asm__("r0") = op;
    register const void* r1 __asm__("r1") = arg;
    __asm__ volatile("bkpt 0xab" : "+r"(r0) : "r"(r1) : "memory");
}

__attribute__((noreturn)) static void report(const char* text, uint32_t status)
{
    const uint32_t block[2] = {0x20026, status}; /* ADP_Stopped_ApplicationExit */
    semihost(0x04, text);                       /* SYS_WRITE0 */
    semihost(0x20, block);                      /* SYS_EXIT_EXTENDED */
    for (;;) {
    }
}

static void fault(void) { report("fwsum: fault\n", 3); }

/* n bytes, n a multiple of 4: each word as a 32-bit little-endian load reads it. */
static uint32_t crc_stm32(const unsigned char* p, size_t n)
{
    uint32_t crc = 0xFFFFFFFF;
    for (size_t i = 0; i + 4 <= n; i += 4) {
        crc ^= (uint32_t)p[i] | (uint32_t)p[i + 1] << 8 | (uint32_t)p[i + 2] << 16 |
               (uint32_t)p[i + 3] << 24;
        for (int b = 0; b < 32; b++)
            crc = crc & 0x80000000u ? crc << 1 ^ 0x04C11DB7u : crc << 1;
    }
    return crc;
}

static const uint32_t k256[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

static uint32_t ror(uint32_t x, int n) { return x >> n | x << (32 - n); }

static void sha256_block(uint32_t h[8], const unsigned char* p)
{
    uint32_t w[64];
    for (int i = 0; i < 16; i++)
        w[i] = (uint32_t)p[4 * i] << 24 | (uint32_t)p[4 * i + 1] << 16 |
               (uint32_t)p[4 * i + 2] << 8 | p[4 * i + 3];
    for (int i = 16; i < 64; i++) {
        const uint32_t s0 = ror(w[i - 15], 7) ^ ror(w[i - 15], 18) ^ w[i - 15] >> 3;
        const uint32_t s1 = ror(w[i - 2], 17) ^ ror(w[i - 2], 19) ^ w[i - 2] >> 10;
        w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4], f = h[5], g = h[6], x = h[7];
    for (int i = 0; i < 64; i++) {
        const uint32_t t1 = x + (ror(e, 6) ^ ror(e, 11) ^ ror(e, 25)) + ((e & f) ^ (~e & g)) +
                            k256[i] + w[i];
        const uint32_t t2 = (ror(a, 2) ^ ror(a, 13) ^ ror(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
        x = g;
        g = f;
        f = e;
        e = d + t1;
        d = c;
        c = b;
        b = a;
        a = t1 + t2;
    }
    h[0] += a, h[1] += b, h[2] += c, h[3] += d, h[4] += e, h[5] += f, h[6] += g, h[7] += x;
}

static void sha256(const unsigned char* p, size_t n, unsigned char out[32])
{
    uint32_t h[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                     0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    size_t done = 0;
    for (; n - done >= 64; done += 64)
        sha256_block(h, p + done);
    /* The last bytes, the 0x80 marker, zeros and the length in bits: one block or two. */
    unsigned char last[128];
    const size_t rest = n - done, blocks = rest < 56 ? 1 : 2;
    for (size_t i = 0; i < sizeof last; i++)
        last[i] = i < rest ? p[done + i] : 0;
    last[rest] = 0x80;
    const uint64_t bits = (uint64_t)n * 8;
    for (int i = 0; i < 8; i++)
        last[64 * blocks - 1 - i] = (unsigned char)(bits >> (8 * i));
    for (size_t k = 0; k < blocks; k++)
        sha256_block(h, last + 64 * k);
    for (int i = 0; i < 32; i++)
        out[i] = (unsigned char)(h[i / 4] >> (24 - 8 * (i % 4)));
}

void reset(void)
{
    for (uint32_t *from = _sidata, *to = _sdata; to < _edata;)
        *to++ = *from++;
    if (boot_count != 0x600DF00D)
        report("fwsum: fault\n", 3);
    if (crc_stm32(__image_start, (size_t)__image_size) != image_crc)
        report("fwsum: crc wrong\n", 1);
    unsigned char digest[32];
    sha256(__image_start, (size_t)__signed_size, digest);
    for (int i = 0; i < 32; i++)
        if (digest[i] != image_sha256[i])
            report("fwsum: sha256 wrong\n", 2);
    report("fwsum: crc and sha256 check out\n", 0);
}
