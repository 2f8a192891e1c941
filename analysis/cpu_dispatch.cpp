#include "cpu_dispatch.h"

#include <atomic>

namespace vurma {

namespace {
std::atomic<bool> g_bAvx2Allowed{true};
}

bool UseAvx2() {
#if defined(VURMA_HAVE_AVX2_PATH)
    static const bool has = __builtin_cpu_supports("avx2");
    return has && g_bAvx2Allowed.load(std::memory_order_relaxed);
#else
    return false;
#endif
}

bool AllowAvx2(bool allow) { return g_bAvx2Allowed.exchange(allow); }

}  // namespace vurma
