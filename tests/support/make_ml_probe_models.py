#!/usr/bin/python3
"""Writes small ONNX models that probe the model runtime, one compiled-model folder each.

* topk.mlmodelc: x float32 [2, 6] -> "values" float32 and "indices" int32, top 3 of each row
* types.mlmodelc: h float16 [1, 2, 3] -> h * 2 as "half" (float16), "single" (float32)
  and "whole" (int32)
* int64_output.mlmodelc: an output declared int64, which the runtime does not hand out
* weights_as_inputs.mlmodelc: an old-style model that also lists its weight as an input

Usage: make_ml_probe_models.py <folder>
"""

import os
import sys

import numpy as np
import onnx
from onnx import TensorProto, helper, numpy_helper


def save(model, folder, bundle):
    onnx.checker.check_model(model, full_check=True)
    os.makedirs(os.path.join(folder, bundle), exist_ok=True)
    onnx.save(model, os.path.join(folder, bundle, "model.onnx"))


def model(nodes, inputs, outputs, initializers):
    graph = helper.make_graph(nodes, "probe", inputs, outputs, initializers)
    return helper.make_model(graph, opset_imports=[helper.make_opsetid("", 17)])


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    folder = sys.argv[1]

    save(model(
        [helper.make_node("TopK", ["x", "k"], ["v", "i"], axis=-1),
         helper.make_node("Identity", ["v"], ["values"]),
         helper.make_node("Cast", ["i"], ["i32"], to=TensorProto.INT32),
         helper.make_node("Identity", ["i32"], ["indices"])],
        [helper.make_tensor_value_info("x", TensorProto.FLOAT, [2, 6])],
        [helper.make_tensor_value_info("values", TensorProto.FLOAT, [2, 3]),
         helper.make_tensor_value_info("indices", TensorProto.INT32, [2, 3])],
        [numpy_helper.from_array(np.array([3], dtype=np.int64), "k")]), folder, "topk.mlmodelc")

    save(model(
        [helper.make_node("Cast", ["h"], ["h32"], to=TensorProto.FLOAT),
         helper.make_node("Mul", ["h32", "two"], ["doubled"]),
         helper.make_node("Cast", ["doubled"], ["d16"], to=TensorProto.FLOAT16),
         helper.make_node("Identity", ["d16"], ["half"]),
         helper.make_node("Identity", ["doubled"], ["single"]),
         helper.make_node("Cast", ["doubled"], ["d32"], to=TensorProto.INT32),
         helper.make_node("Identity", ["d32"], ["whole"])],
        [helper.make_tensor_value_info("h", TensorProto.FLOAT16, [1, 2, 3])],
        [helper.make_tensor_value_info("half", TensorProto.FLOAT16, [1, 2, 3]),
         helper.make_tensor_value_info("single", TensorProto.FLOAT, [1, 2, 3]),
         helper.make_tensor_value_info("whole", TensorProto.INT32, [1, 2, 3])],
        [numpy_helper.from_array(np.array(2.0, dtype=np.float32), "two")]), folder, "types.mlmodelc")

    save(model(
        [helper.make_node("Cast", ["x"], ["x64"], to=TensorProto.INT64),
         helper.make_node("Identity", ["x64"], ["y"])],
        [helper.make_tensor_value_info("x", TensorProto.FLOAT, [1, 4])],
        [helper.make_tensor_value_info("y", TensorProto.INT64, [1, 4])], []), folder, "int64_output.mlmodelc")

    w = numpy_helper.from_array(np.full((4, 2), 0.5, dtype=np.float32), "w")
    legacy = helper.make_model(
        helper.make_graph(
            [helper.make_node("MatMul", ["x", "w"], ["xw"]), helper.make_node("Identity", ["xw"], ["y"])],
            "probe",
            [helper.make_tensor_value_info("x", TensorProto.FLOAT, [1, 4]),
             helper.make_tensor_value_info("w", TensorProto.FLOAT, [4, 2])],
            [helper.make_tensor_value_info("y", TensorProto.FLOAT, [1, 2])], [w]),
        opset_imports=[helper.make_opsetid("", 17)])
    legacy.ir_version = 3
    os.makedirs(os.path.join(folder, "weights_as_inputs.mlmodelc"), exist_ok=True)
    onnx.save(legacy, os.path.join(folder, "weights_as_inputs.mlmodelc", "model.onnx"))


if __name__ == "__main__":
    main()
