// Score tables: the fixed conversions between stored frequency classes
// (1..127), raw frequencies and query weights (0..100).
//
// percent_table and blend_table are process-wide. The sorn module
// initialisation fills them once, before any database is used; afterwards
// they are only read, so they need no lock.
#pragma once

#include <cstdint>

namespace vorlane {

inline constexpr int kPercentRows = 101;   // p = 0..100
inline constexpr int kPercentCols = 4001;  // n = 0..4000
inline constexpr int kBlendSize = 500;     // a, b = 0..499

// percent_table[p][n] = (p * n + 50) / 100: p percent of n, rounded half up.
extern int32_t percent_table[kPercentRows][kPercentCols];
// blend_table[a][b] for a, b in 1..499 = ((a * 100 + b / 2) / b + min(a, 100)
// + 1) / 2 (integer divisions): the mean, rounded up at halves, of a as a
// rounded percentage of b and of a capped at 100. Row 0 and column 0 are 0.
extern int32_t blend_table[kBlendSize][kBlendSize];

void init_percent_table();
void init_blend_table();

// The raw-frequency scale: (int)(ln(x + 1) * 100 / ln 128), truncated; 0 for
// 0, 14 for 1, 100 for 127. setting (a database's score setting) is unused.
int log_scale(uint32_t x, int setting = 0);

// Weight 0..100 of a term found in df of n documents: 0 when n is 0, 100 when
// df is 0, 1 when df >= n, 100 when n / df >= 100000, otherwise
// (int)(ln(n / df) * 100 / ln(min(n, 100000))), at least 1.
int idf_scale(uint32_t df, uint32_t n);

}  // namespace vorlane
