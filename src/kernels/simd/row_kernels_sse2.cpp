// The row kernels with 4-pixel vectors; built with the sse2 flags (CMakeLists.txt).
#define VELTRANE_LANES 4
#define VELTRANE_KERNEL_SET rowKernelsSse2
#include "kernels/simd/row_kernels_impl.h"
