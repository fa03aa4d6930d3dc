#pragma once

namespace pelora::BlasThreading {

// Makes every BLAS call run on its calling thread. The EG2 front end is measured per
// core and the rescoring kernel already runs its frames in parallel; BLAS's own worker
// threads would only compete with those. Process-wide; safe to call any number of times.
void useCallingThreadOnly();

}  // namespace pelora::BlasThreading
