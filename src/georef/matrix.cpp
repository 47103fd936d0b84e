#include "georef/matrix.h"

#include <cstdio>
#include <limits>

#include "platform/heap.h"

namespace {

// The largest matrix made, row pointers and elements together: far beyond
// any table of reference points, so that a count gone wrong can never make
// the library claim or touch more.
constexpr uint64_t kLargestMatrixBytes = UINT64_C(1) << 30;

// Element and slot counts of a range, or -1 when it is negative or cannot
// be allocated on this platform.
int64_t extent(int32_t low, int32_t high) {
    const int64_t n = static_cast<int64_t>(high) - low + 1;
    return n < 0 ? -1 : n;
}

// Bytes for `count` items of `size` bytes, or 0 when that overflows size_t.
std::size_t byte_size(int64_t count, std::size_t size) {
    if (count < 0) return 0;
    const auto n = static_cast<uint64_t>(count);
    if (n > std::numeric_limits<std::size_t>::max() / size) return 0;
    return static_cast<std::size_t>(n) * size;
}

// The block sizes of a matrix, each 0 when it cannot be represented.
struct Layout {
    int64_t rows;
    int64_t columns;
    std::size_t slot_bytes;
    std::size_t element_bytes;
};

template <typename T>
Layout layout_of(int32_t row_low, int32_t row_high, int32_t column_low, int32_t column_high) {
    Layout l{extent(row_low, row_high), extent(column_low, column_high), 0, 0};
    // One spare slot in front; an empty row range still keeps the slot that
    // locates the element block for its release.
    if (l.rows >= 0) l.slot_bytes = byte_size((l.rows > 0 ? l.rows : 1) + 1, sizeof(T *));
    if (l.columns >= 0 && l.rows >= 0) {
        // rows * columns + 1 elements, checked for overflow.
        if (l.columns == 0 || l.rows <= (INT64_MAX - 1) / l.columns)
            l.element_bytes = byte_size(l.rows * l.columns + 1, sizeof(T));
    }
    if (l.slot_bytes > kLargestMatrixBytes) l.slot_bytes = 0;
    if (l.element_bytes > kLargestMatrixBytes - l.slot_bytes) l.element_bytes = 0;
    return l;
}

// Points the rows into the element block so that m[row_low][column_low] is
// the block's second element.
template <typename T>
T **place_rows(T **slots, T *block, const Layout &l, int32_t row_low, int32_t column_low) {
    T **m = slots + 1 - static_cast<intptr_t>(row_low);
    T *row = block + 1 - static_cast<intptr_t>(column_low);
    m[row_low] = row;
    for (int64_t i = 1; i < l.rows; ++i) m[row_low + i] = row += l.columns;
    return m;
}

template <typename T>
void release_blocks(T **m, int32_t row_low, int32_t column_low) {
    if (m == nullptr) return;
    lib_free(m[row_low] + column_low - 1);
    lib_free(m + row_low - 1);
}

// Allocates both blocks, or reports which failed (1: row pointers, 2:
// elements) and leaves nothing allocated. Sizes that cannot be represented,
// or exceed the largest matrix, fail as their allocation would, before
// anything is allocated.
template <typename T>
int allocate(const Layout &l, T ***slots, T **block) {
    if (l.slot_bytes == 0) return 1;
    if (l.element_bytes == 0) return 2;
    *slots = static_cast<T **>(lib_malloc(l.slot_bytes));
    if (*slots == nullptr) return 1;
    *block = static_cast<T *>(lib_malloc(l.element_bytes));
    if (*block == nullptr) {
        lib_free(*slots);
        return 2;
    }
    return 0;
}

}  // namespace

double **matrix(int32_t row_low, int32_t row_high, int32_t column_low, int32_t column_high) {
    const Layout l = layout_of<double>(row_low, row_high, column_low, column_high);
    double **slots = nullptr;
    double *block = nullptr;
    const int failed = allocate(l, &slots, &block);
    if (failed != 0) {
        std::fputs(failed == 1 ? "allocation failure 1 in matrix()\n" : "allocation failure 2 in matrix()\n", stderr);
        return nullptr;
    }
    return place_rows(slots, block, l, row_low, column_low);
}

void release_matrix(double **m, int32_t row_low, int32_t, int32_t column_low, int32_t) {
    release_blocks(m, row_low, column_low);
}
