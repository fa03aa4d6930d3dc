#pragma once

namespace pelora::ml {

// OpenCV's ONNX importer has no TopK; this registers our own layer under that operator
// name (once per process; later calls do nothing). The layer takes K from a constant
// second input (or a "k" attribute), honours "axis", "largest" and "sorted", and yields
// values and indices (as float, which the runtime converts to the declared type). Equal
// values keep ascending index order; NaN ranks below every number.
void registerTopKLayer();

}  // namespace pelora::ml
