#include "engine/module/engine_globals.h"

namespace vorlane::engine {

size_t query_buffer_size = 0;
uint32_t query_pool_limit = 0;

}  // namespace vorlane::engine
