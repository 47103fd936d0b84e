// Builds KAP charts for tests: any header, any depth from 1 to 7, known
// pixels, and the damage a test needs (raw row records, rows shorter or
// longer than the width, no index, a wrong index pointer, truncation).
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace kap {

using Bytes = std::vector<uint8_t>;

// The row number as 7-bit groups, most significant first.
Bytes encode_row_number(uint32_t number);

// One run of `length` pixels of `value`. `extra_bytes` forces that many
// more continuation bytes than needed (leading zero groups).
Bytes encode_run(uint8_t value, uint64_t length, int depth, int extra_bytes = 0);

// The runs of a row of pixels, each run as long as the pixels allow.
Bytes encode_runs(std::span<const uint8_t> pixels, int depth);

// A whole row record: number, runs, terminator.
Bytes row_record(uint32_t number, std::span<const uint8_t> pixels, int depth);

struct ChartWriter {
    std::vector<std::string> header;   // lines; "\r\n" is added unless a line ends in "\n"
    int depth = 4;
    int width = 0;
    int height = 0;
    Bytes pixels;                      // width * height, row after row
    int rows_per_entry = 1;            // one index entry per this many rows
    std::map<int, Bytes> raw_rows;     // rows written exactly as given
    bool write_index = true;
    std::optional<int64_t> index_pointer;         // instead of the table's offset
    std::map<int, int64_t> index_entries;         // entries written as given
    std::optional<uint8_t> byte_before_index;     // e.g. the depth, for charts without "IFM"

    Bytes build() const;
    // Offsets of each row's record in the last build.
    std::vector<int64_t> row_offsets() const;

    uint8_t pixel(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
};

// A sound upright Mercator chart: VER, BSB with RA, KNP, OST/1, IFM, a
// palette of `colors` entries, four reference points around 50N 1W and a
// zero datum shift. Pixels follow a pattern with runs of many lengths.
ChartWriter simple_chart(int width, int height, int depth = 4, int colors = 5);

// The standard header of simple_chart for a given size and depth; `knp`
// replaces the "KNP" record.
std::vector<std::string> simple_header(int width, int height, int depth, int colors,
                                       const std::string &knp = "");

// The pattern of simple_chart, usable for any size and depth.
Bytes pattern_pixels(int width, int height, int depth);

// Row `row` of a KAP file read the slow way the format describes, with no
// code of the reader: its index entry's record, each row before it in the
// entry passed over (one byte discarded, then the record read to its
// terminator) into the buffer, then the row itself over them. False, with
// the buffer untouched, when the entry or its record lies outside the file.
bool decode_row_by_definition(const Bytes &file, int depth, int rows_per_entry, int row, std::span<uint8_t> buffer);

// The file with the first occurrence of `from` in its header replaced by
// `to`, and the index pointer and every index entry moved by the change of
// length, so that the rows are found as before.
Bytes edit_header(const Bytes &file, const std::string &from, const std::string &to);

// Writes bytes to a file.
void write_file(const std::string &path, const Bytes &bytes);
Bytes read_file(const std::string &path);

}  // namespace kap
