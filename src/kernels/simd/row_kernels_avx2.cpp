// The row kernels with 8-pixel vectors; built with the avx2 flags (CMakeLists.txt).
#define VELTRANE_LANES 8
#define VELTRANE_KERNEL_SET rowKernelsAvx2
#include "kernels/simd/row_kernels_impl.h"
