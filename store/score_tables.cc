#include "store/score_tables.h"

#include <algorithm>
#include <cmath>

namespace vorlane {

int32_t percent_table[kPercentRows][kPercentCols];
int32_t blend_table[kBlendSize][kBlendSize];

void init_percent_table() {
  for (int p = 0; p < kPercentRows; ++p)
    for (int n = 0; n < kPercentCols; ++n) percent_table[p][n] = (p * n + 50) / 100;
}

void init_blend_table() {
  for (int a = 0; a < kBlendSize; ++a)
    for (int b = 0; b < kBlendSize; ++b)
      blend_table[a][b] = a == 0 || b == 0 ? 0 : ((a * 100 + b / 2) / b + std::min(a, 100) + 1) / 2;
}

int log_scale(uint32_t x, int /*setting*/) {
  return static_cast<int>(std::log(static_cast<double>(x) + 1.0) * 100.0 / std::log(128.0));
}

int idf_scale(uint32_t df, uint32_t n) {
  if (n == 0) return 0;
  if (df == 0) return 100;
  if (df >= n) return 1;
  if (n / df >= 100000) return 100;
  const double ratio = static_cast<double>(n) / static_cast<double>(df);
  const int w = static_cast<int>(std::log(ratio) * 100.0 / std::log(static_cast<double>(std::min(n, 100000u))));
  return w == 0 ? 1 : w;
}

}  // namespace vorlane
