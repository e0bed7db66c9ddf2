// Loops over every point of a profile work on four values at a time with
// GCC's and Clang's vector extensions (lowered to the target's own vector
// width). With GCC on x86-64 the functions marked QZ417_VECTOR_CLONES are
// compiled twice, for AVX2 and for the baseline, and the loader picks one
// for the CPU; neither contracts multiplications and additions, so both give
// the same bits. (Not under the sanitizers, whose run-time is not ready when
// the loader picks.) Include only in .cpp files.
#pragma once

#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) &&                             \
    !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
#define QZ417_VECTOR_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define QZ417_VECTOR_CLONES
#endif

namespace qz417::vec {

using Doubles4 = double __attribute__((vector_size(4 * sizeof(double))));
using Masks4 = long long __attribute__((vector_size(4 * sizeof(long long))));

} // namespace qz417::vec
