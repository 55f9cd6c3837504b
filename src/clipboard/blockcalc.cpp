#include "blockcalc.h"

#include <cstdint>
#include <cstring>
#if defined(__i386__) || defined(__x86_64__)
#include <immintrin.h>
#define HEX_DUMP_SSSE3 1
#endif

namespace {

constexpr size_t ROW_BYTES = 16;
constexpr size_t ROWS_PER_STEP = 64;
constexpr size_t BLOCK_BYTES_PER_ROW = 80;

// Offsets of 16 MiB and more need more than six digits. The offset column of
// the whole dump then widens so that its rows stay aligned; nine digits (64
// GiB) is the widest row that still fits the 80 bytes a block reserves for
// it, terminator included, and larger offsets keep their low nine digits.
constexpr int MIN_OFFSET_DIGITS = 6;
constexpr int MAX_OFFSET_DIGITS = 9;

constexpr char HEX_DIGITS[] = "0123456789abcdef";

size_t RowCount(size_t n)
{
    return n / ROW_BYTES + (n % ROW_BYTES != 0);
}

int OffsetDigits(size_t n)
{
    uint64_t last = n ? static_cast<uint64_t>(RowCount(n) - 1) * ROW_BYTES : 0;
    int digits = MIN_OFFSET_DIGITS;
    while (digits < MAX_OFFSET_DIGITS && (last >> (4 * digits)) != 0)
        digits++;
    return digits;
}

size_t RowChars(int offsetDigits)
{
    return HEX_ROW_CHARS - MIN_OFFSET_DIGITS + offsetDigits;
}

// Each byte's two digits and the blank after them, put in place by one
// 4-byte copy whose last byte the next cell (or the '|') then overwrites;
// and the byte as the character column shows it.
struct ByteCells {
    char hex[256][4] = {};
    char shown[256] = {};
    constexpr ByteCells()
    {
        for (int b = 0; b < 256; b++) {
            hex[b][0] = HEX_DIGITS[b >> 4];
            hex[b][1] = HEX_DIGITS[b & 15];
            hex[b][2] = hex[b][3] = ' ';
            shown[b] = b >= 0x20 && b <= 0x7E ? static_cast<char>(b) : '.';
        }
    }
};
constexpr ByteCells CELLS;

void WriteCells(char *p, char *column, const uint8_t *bytes, size_t count)
{
    for (size_t i = 0; i < count; i++) {
        memcpy(p + 3 * i, CELLS.hex[bytes[i]], 4);
        column[i] = CELLS.shown[bytes[i]];
    }
    memset(p + 3 * count, ' ', 3 * (ROW_BYTES - count));
    memset(column + count, ' ', ROW_BYTES - count);
}

#ifdef HEX_DUMP_SSSE3
// A full row's 48 cell characters and 16 column characters in four 16-byte
// stores: the dump is then bound by the memory it writes, not by the stores.
__attribute__((target("ssse3"))) void WriteFullCellsSsse3(char *p, char *column, const uint8_t *bytes)
{
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(bytes));
    const __m128i nibble = _mm_set1_epi8(0x0F);
    const __m128i digits = _mm_loadu_si128(reinterpret_cast<const __m128i *>(HEX_DIGITS));
    const __m128i high = _mm_shuffle_epi8(digits, _mm_and_si128(_mm_srli_epi16(v, 4), nibble));
    const __m128i low = _mm_shuffle_epi8(digits, _mm_and_si128(v, nibble));
    const __m128i first = _mm_unpacklo_epi8(high, low);
    const __m128i second = _mm_unpackhi_epi8(high, low);
    // Index -1 gives a zero byte. Every digit has the 0x20 bit set already,
    // so setting it turns exactly those gaps into blanks.
    const __m128i cells0 =
        _mm_shuffle_epi8(first, _mm_setr_epi8(0, 1, -1, 2, 3, -1, 4, 5, -1, 6, 7, -1, 8, 9, -1, 10));
    const __m128i cells1 = _mm_or_si128(
        _mm_shuffle_epi8(first,
                         _mm_setr_epi8(11, -1, 12, 13, -1, 14, 15, -1, -1, -1, -1, -1, -1, -1, -1, -1)),
        _mm_shuffle_epi8(second, _mm_setr_epi8(-1, -1, -1, -1, -1, -1, -1, -1, 0, 1, -1, 2, 3, -1, 4, 5)));
    const __m128i cells2 =
        _mm_shuffle_epi8(second, _mm_setr_epi8(-1, 6, 7, -1, 8, 9, -1, 10, 11, -1, 12, 13, -1, 14, 15, -1));
    const __m128i blank = _mm_set1_epi8(' ');
    _mm_storeu_si128(reinterpret_cast<__m128i *>(p), _mm_or_si128(cells0, blank));
    _mm_storeu_si128(reinterpret_cast<__m128i *>(p + 16), _mm_or_si128(cells1, blank));
    _mm_storeu_si128(reinterpret_cast<__m128i *>(p + 32), _mm_or_si128(cells2, blank));
    // Signed compares: bytes from 0x80 up are below 0x20 too.
    const __m128i printable =
        _mm_and_si128(_mm_cmpgt_epi8(v, _mm_set1_epi8(0x1F)), _mm_cmplt_epi8(v, _mm_set1_epi8(0x7F)));
    const __m128i shown =
        _mm_or_si128(_mm_and_si128(printable, v), _mm_andnot_si128(printable, _mm_set1_epi8('.')));
    _mm_storeu_si128(reinterpret_cast<__m128i *>(column), shown);
}

bool HasSsse3()
{
    __builtin_cpu_init();
    return __builtin_cpu_supports("ssse3");
}

#endif

void WriteFullCells(char *p, char *column, const uint8_t *bytes)
{
#ifdef HEX_DUMP_SSSE3
    static const bool ssse3 = HasSsse3();
    if (ssse3) {
        WriteFullCellsSsse3(p, column, bytes);
        return;
    }
#endif
    WriteCells(p, column, bytes, ROW_BYTES);
}

char *WriteRow(char *p, uint64_t offset, int digits, const uint8_t *bytes, size_t count)
{
    for (int i = digits - 1; i >= 0; i--, offset >>= 4)
        p[i] = HEX_DIGITS[offset & 15];
    p += digits;
    *p++ = ':';
    *p++ = ' ';
    char *column = p + 3 * ROW_BYTES + 2;
    if (count == ROW_BYTES)
        WriteFullCells(p, column, bytes);
    else
        WriteCells(p, column, bytes, count);
    p += 3 * ROW_BYTES;
    *p++ = '|';
    *p++ = ' ';
    p += ROW_BYTES;
    *p++ = '\r';
    *p++ = '\n';
    return p;
}

} // namespace

bool ClipboardBlockSize(size_t n, size_t *out)
{
    size_t rows = n / ROW_BYTES + 1;
    if (!out || rows > SIZE_MAX / BLOCK_BYTES_PER_ROW)
        return false;
    *out = rows * BLOCK_BYTES_PER_ROW;
    return true;
}

size_t HexDumpSize(size_t n)
{
    size_t rows = RowCount(n);
    size_t rowChars = RowChars(OffsetDigits(n));
    // Saturates: no allocation of that size can succeed.
    if (rows > (SIZE_MAX - 1) / rowChars)
        return SIZE_MAX;
    return rows * rowChars + 1;
}

void HexDump(const uint8_t *data, size_t n, char *out, void (*progress)(void *ctx), void *ctx)
{
    const int digits = OffsetDigits(n);
    const size_t rows = RowCount(n);
    for (size_t row = 0; row < rows; row++) {
        size_t offset = row * ROW_BYTES;
        size_t count = n - offset < ROW_BYTES ? n - offset : ROW_BYTES;
        out = WriteRow(out, offset, digits, data + offset, count);
        if (progress && (row + 1) % ROWS_PER_STEP == 0)
            progress(ctx);
    }
    *out = '\0';
}
