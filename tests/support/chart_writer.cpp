#include "chart_writer.h"

#include <algorithm>
#include <fstream>
#include <stdexcept>

namespace kap {

namespace {

void append(Bytes &to, const Bytes &from) { to.insert(to.end(), from.begin(), from.end()); }

void append_be32(Bytes &to, int64_t value) {
    const auto v = static_cast<uint32_t>(value);
    for (int shift = 24; shift >= 0; shift -= 8) to.push_back(static_cast<uint8_t>(v >> shift));
}

}  // namespace

Bytes encode_row_number(uint32_t number) {
    Bytes groups;
    do {
        groups.insert(groups.begin(), static_cast<uint8_t>(number & 0x7F));
        number >>= 7;
    } while (number != 0);
    for (size_t i = 0; i + 1 < groups.size(); ++i) groups[i] |= 0x80;
    return groups;
}

Bytes encode_run(uint8_t value, uint64_t length, int depth, int extra_bytes) {
    if (length == 0) throw std::invalid_argument("a run covers at least one pixel");
    const uint64_t count = length - 1;
    const int first_bits = 7 - depth;
    int continuation = 0;
    while (first_bits + 7 * continuation < 64 && (count >> (first_bits + 7 * continuation)) != 0) ++continuation;
    const auto value_bits = static_cast<uint8_t>(value << first_bits);
    // A lone 0x00 would be the terminator: value 0, one pixel needs a
    // continuation byte.
    if (continuation == 0 && value_bits == 0 && count == 0) continuation = 1;
    continuation += extra_bytes;
    Bytes run;
    const int high_shift = 7 * continuation;
    const uint8_t high = high_shift < 64 ? static_cast<uint8_t>(count >> high_shift) : 0;
    run.push_back(static_cast<uint8_t>((continuation > 0 ? 0x80 : 0) | value_bits | high));
    for (int j = continuation - 1; j >= 0; --j) {
        const uint8_t group = 7 * j < 64 ? static_cast<uint8_t>((count >> (7 * j)) & 0x7F) : 0;
        run.push_back(static_cast<uint8_t>(group | (j > 0 ? 0x80 : 0)));
    }
    return run;
}

Bytes encode_runs(std::span<const uint8_t> pixels, int depth) {
    Bytes out;
    size_t i = 0;
    while (i < pixels.size()) {
        size_t j = i + 1;
        while (j < pixels.size() && pixels[j] == pixels[i]) ++j;
        append(out, encode_run(pixels[i], j - i, depth));
        i = j;
    }
    return out;
}

Bytes row_record(uint32_t number, std::span<const uint8_t> pixels, int depth) {
    Bytes out = encode_row_number(number);
    append(out, encode_runs(pixels, depth));
    out.push_back(0x00);
    return out;
}

Bytes ChartWriter::build() const {
    Bytes out;
    for (const std::string &line : header) {
        out.insert(out.end(), line.begin(), line.end());
        if (line.empty() || line.back() != '\n') {
            out.push_back('\r');
            out.push_back('\n');
        }
    }
    out.push_back(0x1A);
    out.push_back(0x00);
    out.push_back(static_cast<uint8_t>(depth));
    std::vector<int64_t> offsets;
    for (int y = 0; y < height; ++y) {
        offsets.push_back(static_cast<int64_t>(out.size()));
        if (auto raw = raw_rows.find(y); raw != raw_rows.end()) {
            append(out, raw->second);
        } else {
            std::span<const uint8_t> row(pixels.data() + static_cast<size_t>(y) * width, width);
            append(out, row_record(static_cast<uint32_t>(y + 1), row, depth));
        }
    }
    if (byte_before_index) out.push_back(*byte_before_index);
    const auto table = static_cast<int64_t>(out.size());
    if (write_index) {
        const int step = rows_per_entry > 0 ? rows_per_entry : 1;
        for (int k = 0, y = 0; y < height; ++k, y += step) {
            auto given = index_entries.find(k);
            append_be32(out, given != index_entries.end() ? given->second : offsets[y]);
        }
    }
    append_be32(out, index_pointer.value_or(table));
    return out;
}

std::vector<int64_t> ChartWriter::row_offsets() const {
    // Rebuilds the layout; cheap for test-sized charts.
    int64_t at = 0;
    for (const std::string &line : header)
        at += static_cast<int64_t>(line.size()) + (line.empty() || line.back() != '\n' ? 2 : 0);
    at += 3;
    std::vector<int64_t> offsets;
    for (int y = 0; y < height; ++y) {
        offsets.push_back(at);
        if (auto raw = raw_rows.find(y); raw != raw_rows.end()) {
            at += static_cast<int64_t>(raw->second.size());
        } else {
            std::span<const uint8_t> row(pixels.data() + static_cast<size_t>(y) * width, width);
            at += static_cast<int64_t>(row_record(static_cast<uint32_t>(y + 1), row, depth).size());
        }
    }
    return offsets;
}

Bytes pattern_pixels(int width, int height, int depth) {
    const int values = 1 << depth;
    Bytes pixels(static_cast<size_t>(width) * height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            // Bands of growing width, shifted per row: runs of 1 to ~40
            // pixels, long runs at the left, every value used.
            const int band = (x + y / 3) / (1 + (x % 41) / 4 + y % 7);
            pixels[static_cast<size_t>(y) * width + x] = static_cast<uint8_t>((band + y) % values);
        }
    }
    return pixels;
}

std::vector<std::string> simple_header(int width, int height, int depth, int colors, const std::string &knp) {
    std::vector<std::string> h = {
        "! A chart written by the nvch test chart writer",
        "VER/3.0",
        "BSB/NA=TEST HARBOUR,NU=1,RA=" + std::to_string(width) + "," + std::to_string(height) + ",DU=254",
        knp.empty() ? "KNP/SC=20000,GD=NAD83,PR=MERCATOR,PP=50.0,PI=UNKNOWN,SP=UNKNOWN,SK=0.0,TA=90.0" : knp,
        "    UN=METERS,SD=MEAN LOWER LOW WATER,DX=2.0,DY=2.0",
        "OST/1",
        "IFM/" + std::to_string(depth),
    };
    for (int i = 1; i <= colors; ++i)
        h.push_back("RGB/" + std::to_string(i) + "," + std::to_string(i * 37 % 256) + "," +
                    std::to_string(i * 91 % 256) + "," + std::to_string(i * 53 % 256));
    const std::string w = std::to_string(width - 1), hh = std::to_string(height - 1);
    h.push_back("REF/1,0,0,50.0100000000,-1.0100000000");
    h.push_back("REF/2," + w + ",0,50.0100000000,-0.9900000000");
    h.push_back("REF/3," + w + "," + hh + ",49.9900000000,-0.9900000000");
    h.push_back("REF/4,0," + hh + ",49.9900000000,-1.0100000000");
    h.push_back("DTM/0.00,0.00");
    return h;
}

ChartWriter simple_chart(int width, int height, int depth, int colors) {
    ChartWriter w;
    w.depth = depth;
    w.width = width;
    w.height = height;
    w.header = simple_header(width, height, depth, colors);
    w.pixels = pattern_pixels(width, height, depth);
    return w;
}

namespace {

int64_t read_be32(const Bytes &file, int64_t at) {
    uint32_t v = 0;
    for (int k = 0; k < 4; ++k) v = v << 8 | file[static_cast<size_t>(at + k)];
    return static_cast<int32_t>(v);
}

// One record from `at`: the row number skipped, runs written into the
// buffer until the terminator or the end of the file. Moves `at`.
void read_record(const Bytes &file, int64_t &at, int depth, std::span<uint8_t> buffer) {
    const auto size = static_cast<int64_t>(file.size());
    while (at < size)
        if ((file[static_cast<size_t>(at++)] & 0x80) == 0) break;
    size_t i = 0;
    while (at < size) {
        uint8_t b = file[static_cast<size_t>(at++)];
        if (b == 0) return;
        const uint8_t value = static_cast<uint8_t>((b & 0x7F) >> (7 - depth));
        uint64_t count = b & ((1u << (7 - depth)) - 1);
        while (b & 0x80) {
            if (at >= size) return;   // the run is cut short: dropped
            b = file[static_cast<size_t>(at++)];
            count = std::min<uint64_t>(count * 128 + (b & 0x7F), UINT64_C(1) << 40);
        }
        for (uint64_t n = 0; n <= count && i < buffer.size(); ++n) buffer[i++] = value;
    }
}

}  // namespace

bool decode_row_by_definition(const Bytes &file, int depth, int rows_per_entry, int row, std::span<uint8_t> buffer) {
    const auto size = static_cast<int64_t>(file.size());
    if (size < 4 || row < 0) return false;
    const int64_t index = read_be32(file, size - 4);
    const int64_t entry_at = index + 4 * static_cast<int64_t>(row / rows_per_entry);
    if (index < 0 || entry_at + 4 > size) return false;
    int64_t at = read_be32(file, entry_at);
    if (at < 0 || at >= size) return false;
    for (int pass = row % rows_per_entry; pass > 0; --pass) {
        if (at < size) ++at;   // the discarded byte
        read_record(file, at, depth, buffer);
    }
    read_record(file, at, depth, buffer);
    return true;
}

Bytes edit_header(const Bytes &file, const std::string &from, const std::string &to) {
    const auto found = std::search(file.begin(), file.end(), from.begin(), from.end());
    if (found == file.end()) throw std::invalid_argument("not in the header: " + from);
    Bytes out(file.begin(), found);
    out.insert(out.end(), to.begin(), to.end());
    out.insert(out.end(), found + static_cast<long>(from.size()), file.end());
    const int64_t delta = static_cast<int64_t>(to.size()) - static_cast<int64_t>(from.size());
    auto put_be32 = [&](int64_t at, int64_t value) {
        for (int k = 0; k < 4; ++k) out[static_cast<size_t>(at + k)] = static_cast<uint8_t>(value >> (24 - 8 * k));
    };
    const auto size = static_cast<int64_t>(out.size());
    const int64_t index = read_be32(out, size - 4) + delta;
    put_be32(size - 4, index);
    for (int64_t at = index; at + 4 <= size - 4; at += 4) put_be32(at, read_be32(out, at) + delta);
    return out;
}

void write_file(const std::string &path, const Bytes &bytes) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!f) throw std::runtime_error("cannot write " + path);
}

Bytes read_file(const std::string &path) {
    std::ifstream f(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

}  // namespace kap
