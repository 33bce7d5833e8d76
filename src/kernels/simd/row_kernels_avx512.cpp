// The row kernels with 16-pixel vectors; built with the avx512 flags (CMakeLists.txt).
#define VELTRANE_LANES 16
#define VELTRANE_KERNEL_SET rowKernelsAvx512
#include "kernels/simd/row_kernels_impl.h"
