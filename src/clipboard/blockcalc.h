#pragma once
// Portable pieces of the clipboard block copy: sizing and the hex dump.
#include <cstddef>
#include <cstdint>

// Characters in one dump row: "%06x: ", 16 x "%02x ", "| ", 16 columns, "\r\n".
// Dumps of 16 MiB and more widen the offset column of every row.
constexpr size_t HEX_ROW_CHARS = 76;

// Size of the block for n bytes of clipboard data: 80 x (n / 16 + 1), room
// for the dump or for the copy with its added zero. False on overflow.
bool ClipboardBlockSize(size_t n, size_t *out);

// Writes the dump rows of data[0..n) to out (which must hold
// HexDumpSize(n) bytes, the terminating zero included). `progress` is called
// once after every 64 rows (1024 bytes of data), when given.
size_t HexDumpSize(size_t n);
void HexDump(const uint8_t *data, size_t n, char *out, void (*progress)(void *ctx) = nullptr,
             void *ctx = nullptr);
