#include "engine/recognition/BlasThreading.h"

#include <mutex>

#include <cblas.h>

namespace pelora::BlasThreading {

void useCallingThreadOnly() {
    static std::once_flag once;
    std::call_once(once, [] { openblas_set_num_threads(1); });
}

}  // namespace pelora::BlasThreading
