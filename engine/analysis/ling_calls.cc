#include "engine/analysis/ling_calls.h"

#include "linguistics/fst/dictionary.h"
#include "linguistics/fst/fst_errors.h"
#include "linguistics/fst/lookup.h"
#include "linguistics/zop/resource_set.h"

namespace vorlane::engine {

const LingCalls ling_calls_default = {zop_lang_init, zop_get_phrases, fst_lookup, dict_lookup, fst_error_message};
LingCalls ling_calls = ling_calls_default;

}  // namespace vorlane::engine
