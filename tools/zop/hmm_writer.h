// Writer of tagger model files (".hmm"; format in
// linguistics/zop/hmm_model.h).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vorlane::zopw {

struct HmmClassDesc {
  std::string symbols;                          // e.g. "[NN][VB]"
  std::vector<std::pair<int32_t, int32_t>> members;  // (tag number, emission score), ascending tags
};

struct HmmDesc {
  uint8_t file_type = 14;
  uint8_t language = 0;
  std::string version = "1.0";  // must equal the CLG's version text
  std::string comment = "vorlane tagger model";
  int32_t n1 = 0;
  int32_t width = 0;  // 0: the size of the largest class
  std::vector<std::string> tags;
  int32_t repeated_ntag = -1;  // the tag count written again before the scores (-1: the real one)
  std::vector<HmmClassDesc> classes;
  std::vector<int32_t> initial;            // one per tag
  std::vector<std::vector<int32_t>> rows;  // transition row of each tag (from previous tag p)
};

// The file image; no checks beyond what the layout needs, so tests can
// write damaged models too.
std::vector<uint8_t> hmm_image(const HmmDesc& desc);
bool hmm_write_file(const std::string& path, const HmmDesc& desc, std::string* error);

}  // namespace vorlane::zopw
