// A small language resource set for the engine's tests: files base.tok,
// .npr, .clg, .is and .hmm written with the project's transducer and model
// writers. Its stemmer knows a handful of English forms:
//   dogs -> dog, men -> man, running -> run | running, cities -> city,
//   football -> foot#ball, paris -> par
#pragma once

#include <string>

namespace vorlane::engine {

// False with a reason when a file can't be made.
bool write_test_language(const std::string& base, std::string* error);

}  // namespace vorlane::engine
