#include "engine/testing/test_language.h"

#include <vector>

#include "tools/fst/fst_pairs.h"
#include "tools/fst/fst_writer.h"
#include "tools/zop/grouper_net.h"
#include "tools/zop/hmm_writer.h"

namespace vorlane::engine {

namespace {

bool write_pairs(const std::string& path, const std::vector<fstw::Pair>& pairs, std::vector<int> functions,
                 std::string* error) {
  fstw::PairOptions options;
  options.functions = std::move(functions);
  fstw::FileDesc desc;
  return fstw::compile_pairs(pairs, options, &desc, error) && fstw::fst_write_file(path, desc, error);
}

}  // namespace

bool write_test_language(const std::string& base, std::string* error) {
  if (!write_pairs(base + ".tok", {{"dog.", "dog ."}}, {28}, error)) return false;

  const std::vector<std::string> tags = {"DT", "JJ", "NN", "POS", "VBD", "."};
  fstw::FileDesc npr;
  if (!zopw::grouper_desc({{"NN"}, {"DT", "JJ"}, {"POS"}, {"VBD", "."}},
                          {{"NN"}, {}, {}, {"DT", "JJ", "POS", "VBD", "."}}, tags, &npr, error) ||
      !fstw::fst_write_file(base + ".npr", npr, error))
    return false;

  fstw::PairOptions class_options;
  class_options.functions = {60, 61};
  fstw::FileDesc clg;
  if (!fstw::compile_classes({{"the", {"DT"}}, {"old", {"JJ"}}, {"dog", {"NN"}}, {".", {"."}}}, class_options, &clg,
                             error) ||
      !fstw::fst_write_file(base + ".clg", clg, error))
    return false;

  if (!write_pairs(base + ".is",
                   {{"dogs", "dog"},
                    {"men", "man"},
                    {"running", "run"},
                    {"running", "running"},
                    {"cities", "city"},
                    {"football", "foot#ball"},
                    {"paris", "par"}},
                   {12, 27}, error))
    return false;

  zopw::HmmDesc m;
  m.tags = tags;
  m.classes = {{"[NN]", {{2, -1}}}, {"[DT]", {{0, -1}}}, {"[JJ]", {{1, -1}}}, {"[.]", {{5, -1}}}};
  m.initial = {-1, -3, -3, -9, -5, -9};
  for (int t = 0; t < 6; ++t) m.rows.push_back(std::vector<int32_t>(6, -4));
  return zopw::hmm_write_file(base + ".hmm", m, error);
}

}  // namespace vorlane::engine
