#pragma once
// The instruction sets the inner loops of the bank and the synthesis are built for, and what
// the processor this runs on (and its operating system) supports, so that each loop is picked
// at run time. Defined out of line, in code built for any processor: the files built for a
// vector instruction set include this header too.

namespace vellox {

// A build of an inner loop. portable runs everywhere.
enum class KernelPath { portable, avx2, avx512 };

// True when path can run here: the build holds it (avx2_built, avx512_built: whether the
// loop's vector builds were compiled) and this processor can run its instructions.
[[nodiscard]] bool kernel_path_runs(KernelPath path, bool avx2_built, bool avx512_built);

// The fastest path that runs here, by the loop's own available(path).
[[nodiscard]] KernelPath fastest_kernel_path(bool (*available)(KernelPath));

}  // namespace vellox
