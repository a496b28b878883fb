#include "payload_kernels.hpp"

namespace tarvok::raw {

const PayloadKernels& payload_kernels()
{
    static const PayloadKernels& chosen = avx512_kernels() != nullptr ? *avx512_kernels() : portable_kernels();
    return chosen;
}

}  // namespace tarvok::raw
