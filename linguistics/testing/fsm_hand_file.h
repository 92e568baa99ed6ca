// A transducer file assembled by hand (fsm_hand_test.cc), commented field by
// field; the mutation test changes every byte of it.
#pragma once

#include <cstdint>
#include <vector>

namespace vorlane {

extern const std::vector<uint8_t> kHandFile;

}  // namespace vorlane
