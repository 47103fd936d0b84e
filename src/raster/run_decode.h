// The raster half of a KAP file, at the level of bytes: the index pointer,
// big-endian offsets, row numbers and runs.
//
// Layout (numbers big-endian): the last 4 bytes of the file give the offset
// of the index table; entry k of the table gives the offset of the record
// of row k * rows_per_entry. A record is the row number (7 bits a byte,
// bit 7 set on all but the last byte), runs, and a 0x00 terminator. A run's
// first byte holds the pixel value in the `depth` bits below bit 7 and the
// high bits of its count below them; each following byte (while bit 7 is
// set) adds 7 low bits to the count. A run covers count + 1 pixels.
//
// Nothing here knows about charts: these work on bytes and a run format.
#pragma once

#include <cstdint>
#include <cstring>

#include "common/stream.h"

constexpr int32_t kRunRead = 0;
constexpr int32_t kRunEndOfFile = -1;
constexpr int32_t kRunEndOfRow = -2;

// Counts beyond any row width (the widest chart served is 131,072 pixels)
// stop growing, so endless continuation bytes cannot overflow, and every
// sum of a position and a count fits 32 bits: the 32-bit build keeps to
// 32-bit arithmetic.
constexpr int32_t kRunCountCeiling = INT32_C(1) << 30;

// How a depth splits a run's first byte.
struct RunFormat {
    int shift;           // value = (first & 0x7F) >> shift
    uint8_t count_bits;  // count bits of the first byte
};

inline RunFormat run_format(int32_t depth, uint8_t value_mask) {
    return {7 - depth, static_cast<uint8_t>(~(value_mask | 0x80) & 0xFF)};
}

// Parses one run from [p, end): kRunRead with its value and count (the run
// covers count + 1 pixels), kRunEndOfRow (p past the terminator) or
// kRunEndOfFile (p at end; a partly read run is dropped).
inline int32_t parse_run(const uint8_t *&p, const uint8_t *end, RunFormat f, uint8_t &value, int32_t &count) {
    if (end - p >= 2) {
        // Runs of one and two bytes are nearly all of them, mixed in no
        // order a branch could learn: those are read without one.
        const uint32_t first = p[0], second = p[1];
        if (first == 0) {
            ++p;
            return kRunEndOfRow;
        }
        const uint32_t more = first >> 7;
        if ((more & (second >> 7)) == 0) {
            value = static_cast<uint8_t>((first & 0x7F) >> f.shift);
            count = static_cast<int32_t>(((first & f.count_bits) << (7 * more)) | (second & 0x7F & (0u - more)));
            p += 1 + more;
            return kRunRead;
        }
    }
    if (p == end) return kRunEndOfFile;
    uint8_t byte = *p++;
    if (byte == 0) return kRunEndOfRow;
    value = static_cast<uint8_t>((byte & 0x7F) >> f.shift);
    count = byte & f.count_bits;
    while (byte & 0x80) {
        if (p == end) return kRunEndOfFile;
        byte = *p++;
        count = count < (kRunCountCeiling >> 7) ? count * 128 + (byte & 0x7F) : kRunCountCeiling;
    }
    return kRunRead;
}

// Skips a row number: bytes up to and including the first with bit 7 clear.
inline const uint8_t *skip_row_number(const uint8_t *p, const uint8_t *end) {
    while (p < end)
        if ((*p++ & 0x80) == 0) break;
    return p;
}

// Decodes runs from `p` until the terminator or the end, into buffer[0,
// width); pixels at or beyond the width are dropped, their runs still read.
// Returns the pixels written; `p` ends past the terminator. Nothing
// outside the pixels written is touched.
int32_t decode_runs(const uint8_t *&p, const uint8_t *end, RunFormat format, uint8_t *buffer, int32_t width);

// decode_runs for a row whose end is never looked at: stops as soon as the
// row is full, where decode_runs reads on to the terminator. `p` ends
// wherever reading stopped.
int32_t decode_runs_until_full(const uint8_t *&p, const uint8_t *end, RunFormat format, uint8_t *buffer,
                               int32_t width);

// A row passed over on the way to a later row of its index entry, read
// from `p`: one byte is discarded first (the first byte of its number),
// then the rest of its number; its runs are read to the terminator, where
// the next row of the entry starts (`p` ends there). Its pixels go into
// buffer[0, width) when there is a buffer; with none they are only
// counted. Every reader of entries follows this one rule.
struct PassedRow {
    const uint8_t *runs;   // its first run
    int32_t reach;         // pixels it writes, 0 .. width
    bool ended;            // its terminator was read before the bytes ran out
};
PassedRow pass_over_row(const uint8_t *&p, const uint8_t *end, RunFormat format, uint8_t *buffer, int32_t width);

// Four bytes, most significant first; a missing byte counts as -1.
int32_t kap_read_be32(ChartStream *stream);

// The offset stored in the file's last four bytes (-1 for a file shorter
// than that); the stream position is kept.
int32_t kap_index_offset(ChartStream *stream);
