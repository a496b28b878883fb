#include "payload_kernels.hpp"

namespace tarvok::raw {

const PayloadKernels& payload_kernels()
{
#ifdef TARVOK_PORTABLE_KERNEL
    return portable_kernels();
#else
    static const PayloadKernels& chosen = avx512_kernels() != nullptr ? *avx512_kernels()
                                          : avx2_kernels() != nullptr   ? *avx2_kernels()
                                                                        : portable_kernels();
    return chosen;
#endif
}

}  // namespace tarvok::raw
