#include "blockcalc.h"

#include <cstdint>
#include <cstring>

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

// A full row's cells: a fixed count lets the compiler unroll the copies.
void WriteFullCells(char *p, char *column, const uint8_t *bytes)
{
    for (size_t i = 0; i < ROW_BYTES; i++) {
        memcpy(p + 3 * i, CELLS.hex[bytes[i]], 4);
        column[i] = CELLS.shown[bytes[i]];
    }
}

void WritePartCells(char *p, char *column, const uint8_t *bytes, size_t count)
{
    for (size_t i = 0; i < count; i++) {
        memcpy(p + 3 * i, CELLS.hex[bytes[i]], 4);
        column[i] = CELLS.shown[bytes[i]];
    }
    memset(p + 3 * count, ' ', 3 * (ROW_BYTES - count));
    memset(column + count, ' ', ROW_BYTES - count);
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
        WritePartCells(p, column, bytes, count);
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
