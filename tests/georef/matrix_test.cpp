#include <gtest/gtest.h>

#include "capture.h"
#include "georef/matrix.h"
#include "platform/heap.h"
#include "platform/heap_faults.h"

TEST(DoubleMatrix, AddressesEveryElementAndAllowsAnEmptyColumnRange) {
    double **m = matrix(0, 3, 0, 4);
    for (int i = 0; i <= 3; ++i)
        for (int j = 0; j <= 4; ++j) m[i][j] = i * 5 + j;
    EXPECT_EQ(&m[3][4] - (&m[0][0] - 1), 20);   // the last of 21 doubles
    release_matrix(m, 0, 3, 0, 4);

    double **empty = matrix(0, 3, 0, -1);
    EXPECT_EQ(empty[0], empty[3]);   // rows of length 0 share one address
    release_matrix(empty, 0, 3, 0, -1);
}

TEST(DoubleMatrix, HonoursArbitraryLowIndicesAndReleasesByThemAlone) {
    double **m = matrix(5, 7, -2, 3);
    ASSERT_NE(m, nullptr);
    for (int i = 5; i <= 7; ++i)
        for (int j = -2; j <= 3; ++j) m[i][j] = i * 10 + j;
    EXPECT_EQ(&m[7][3] - &m[5][-2], 17);
    EXPECT_EQ(m[6][0], 60);
    release_matrix(m, 5, 999, -2, 999);   // only the low indices count
}

TEST(DoubleMatrix, AFailedAllocationReturnsNullAfterItsLine) {
    // The library never ends its host: the caller fails what it was doing.
    for (long n : {0L, 1L}) {
        double **m = reinterpret_cast<double **>(1);
        heap_fail_after(n);
        Captured c = capture_output([&] { m = matrix(0, 3, 0, 4); });
        heap_fail_after(-1);
        EXPECT_EQ(m, nullptr);
        EXPECT_EQ(c.err, n == 0 ? "allocation failure 1 in matrix()\n" : "allocation failure 2 in matrix()\n");
        EXPECT_EQ(c.out, "");
    }
}

TEST(DoubleMatrix, RefusesSizesThatCannotBeRepresented) {
    double **m = nullptr;
    // 2^32 x 2^32 elements overflow any size type; the 2^32 row pointers
    // alone are past the largest matrix.
    Captured overflow = capture_output([&] { m = matrix(INT32_MIN, INT32_MAX, INT32_MIN, INT32_MAX); });
    EXPECT_EQ(m, nullptr);
    EXPECT_EQ(overflow.err, "allocation failure 1 in matrix()\n");
    // 2 x 2^27 doubles, 2 GiB: past the largest matrix, refused untouched.
    Captured large = capture_output([&] { m = matrix(0, 1, 0, (1 << 27) - 1); });
    EXPECT_EQ(m, nullptr);
    EXPECT_EQ(large.err, "allocation failure 2 in matrix()\n");
    Captured negative = capture_output([&] { m = matrix(0, -5, 0, 3); });
    EXPECT_EQ(m, nullptr);
    EXPECT_EQ(negative.err, "allocation failure 1 in matrix()\n");
}
