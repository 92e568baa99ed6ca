// Fixtures of the tokenizer, tagger, grouper and resource-set tests:
// transducer files compiled with the project's pair compiler, written to
// memory or to a file.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "linguistics/fst/fsm.h"
#include "linguistics/fst/fst_errors.h"
#include "linguistics/fst/fst_interface.h"
#include "tools/fst/fst_pairs.h"
#include "tools/fst/fst_writer.h"

namespace vorlane::zop_test {

struct FsmCloser {
  void operator()(void* fsm) const { fst_close(fsm); }
};
using FsmPtr = std::unique_ptr<void, FsmCloser>;

inline fstw::FileDesc pair_desc(const std::vector<fstw::Pair>& pairs, std::vector<int> functions) {
  fstw::PairOptions options;
  options.functions = std::move(functions);
  fstw::FileDesc desc;
  std::string error;
  EXPECT_TRUE(fstw::compile_pairs(pairs, options, &desc, &error)) << error;
  return desc;
}

inline FsmPtr load_desc(const fstw::FileDesc& desc) {
  std::string error;
  std::vector<uint8_t> image = fstw::fst_write_image(desc, &error);
  EXPECT_FALSE(image.empty()) << error;
  void* fsm = fst_read_memory(image.data(), image.size());
  EXPECT_EQ(fst_status(fsm), 0);
  return FsmPtr(fst_status(fsm) == 0 ? fsm : nullptr);
}

inline void write_desc(const std::string& path, const fstw::FileDesc& desc) {
  std::string error;
  EXPECT_TRUE(fstw::fst_write_file(path, desc, &error)) << error;
}

}  // namespace vorlane::zop_test
