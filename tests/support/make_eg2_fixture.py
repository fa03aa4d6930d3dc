#!/usr/bin/python3
"""Writes a small, complete EG2 model folder for tests.

The four models are tiny ONNX graphs with hand-set weights, so the pipeline's result on
a known signal is predictable:

* mel band m collects spectrum bins 2m and 2m+1, so a 500 Hz tone lands in band 8,
  2000 Hz in band 32 and 4000 Hz in band 64;
* the encoder averages each group of four mel frames (one output frame per 40 ms);
* the reader turns the three tone bands into word scores: vector dimension k is high
  while tone k sounds, and the blank score is high in silence;
* word rows "hello", "world" and "api" are the unit vectors 0, 1 and 2, so a 500 Hz tone
  reads as "hello", 2000 Hz as "world" and 4000 Hz as "api";
* the block scorer ranks the 16 blocks of four rows by the summed rows;
* the punctuation head puts a period after "world" and writes "api" in capitals.

Usage: make_eg2_fixture.py <folder>
"""

import json
import os
import sys

import numpy as np
import onnx
from onnx import TensorProto, helper, numpy_helper

OPSET = 17
EMBED = 768
HIDDEN = 1024
MEL_BINS = 128
MEL_FRAMES = 2000
OUT_FRAMES = 500
TOP_BLOCKS = 16
BLOCK_SIZE = 4
PUNCT_CHUNK = 96

TONE_BANDS = [8, 32, 64]  # 500 Hz, 2000 Hz, 4000 Hz
WORDS = ["<rep>", "hello", "world", "api"] + ["filler%d" % i for i in range(4, TOP_BLOCKS * BLOCK_SIZE)]


def word_table():
    table = np.zeros((len(WORDS), EMBED), dtype=np.float32)
    for k, word in enumerate(["hello", "world", "api"]):
        table[WORDS.index(word), k] = 1.0
    return table


def save(model, folder, bundle):
    onnx.checker.check_model(model, full_check=True)
    os.makedirs(os.path.join(folder, bundle), exist_ok=True)
    onnx.save(model, os.path.join(folder, bundle, "model.onnx"))


def const(name, array):
    return numpy_helper.from_array(np.asarray(array), name)


def model(nodes, inputs, outputs, initializers):
    graph = helper.make_graph(nodes, "g", inputs, outputs, initializers)
    return helper.make_model(graph, opset_imports=[helper.make_opsetid("", OPSET)], producer_name="eg2-fixture")


def encoder():
    # l11[c] = mean of band c over the four mel frames of the output frame; l11[1023]
    # counts the frames that carry audio (so the mask is part of the graph).
    w = np.zeros((4 * MEL_BINS + 4, HIDDEN), dtype=np.float32)
    for i in range(4):
        for c in range(MEL_BINS):
            w[i * MEL_BINS + c, c] = 0.25
        w[4 * MEL_BINS + i, HIDDEN - 1] = 1.0
    nodes = [
        helper.make_node("Reshape", ["input_features", "feat_shape"], ["grouped"]),
        helper.make_node("Reshape", ["feature_mask", "mask_shape"], ["mask4"]),
        helper.make_node("Concat", ["grouped", "mask4"], ["joined"], axis=2),
        helper.make_node("MatMul", ["joined", "w"], ["hidden"]),
        helper.make_node("Cast", ["hidden"], ["hidden16"], to=TensorProto.FLOAT16),
        helper.make_node("Identity", ["hidden16"], ["l11"]),
    ]
    return model(
        nodes,
        [helper.make_tensor_value_info("input_features", TensorProto.FLOAT, [1, MEL_FRAMES, MEL_BINS]),
         helper.make_tensor_value_info("feature_mask", TensorProto.FLOAT, [1, MEL_FRAMES])],
        [helper.make_tensor_value_info("l11", TensorProto.FLOAT16, [1, OUT_FRAMES, HIDDEN])],
        [const("feat_shape", np.array([1, OUT_FRAMES, 4 * MEL_BINS], dtype=np.int64)),
         const("mask_shape", np.array([1, OUT_FRAMES, 4], dtype=np.int64)),
         const("w", w)])


def reader():
    wv = np.zeros((HIDDEN + 1, EMBED), dtype=np.float32)
    wb = np.zeros((HIDDEN + 1, 1), dtype=np.float32)
    for k, band in enumerate(TONE_BANDS):
        for j, other in enumerate(TONE_BANDS):
            wv[other, k] = 2.0 if j == k else -1.0
        wb[band, 0] = -1.0
    nodes = [
        helper.make_node("Reshape", ["mask", "mask_shape"], ["mask1"]),
        helper.make_node("Concat", ["l11", "mask1"], ["joined"], axis=2),
        helper.make_node("MatMul", ["joined", "wv"], ["vec32"]),
        helper.make_node("Cast", ["vec32"], ["vec16"], to=TensorProto.FLOAT16),
        helper.make_node("Identity", ["vec16"], ["vec"]),
        helper.make_node("MatMul", ["joined", "wb"], ["blank3"]),
        helper.make_node("Reshape", ["blank3", "blank_shape"], ["blank32"]),
        helper.make_node("Cast", ["blank32"], ["blank16"], to=TensorProto.FLOAT16),
        helper.make_node("Identity", ["blank16"], ["blank"]),
    ]
    return model(
        nodes,
        [helper.make_tensor_value_info("l11", TensorProto.FLOAT, [1, OUT_FRAMES, HIDDEN]),
         helper.make_tensor_value_info("mask", TensorProto.FLOAT, [1, OUT_FRAMES])],
        [helper.make_tensor_value_info("vec", TensorProto.FLOAT16, [1, OUT_FRAMES, EMBED]),
         helper.make_tensor_value_info("blank", TensorProto.FLOAT16, [1, OUT_FRAMES])],
        [const("mask_shape", np.array([1, OUT_FRAMES, 1], dtype=np.int64)),
         const("blank_shape", np.array([1, OUT_FRAMES], dtype=np.int64)),
         const("wv", wv), const("wb", wb)])


def scorer():
    table = word_table()
    blocks = table.reshape(TOP_BLOCKS, BLOCK_SIZE, EMBED).sum(axis=1).T.astype(np.float32)
    nodes = [
        helper.make_node("Cast", ["vec"], ["vec32"], to=TensorProto.FLOAT),
        helper.make_node("MatMul", ["vec32", "blocks"], ["scores"]),
        helper.make_node("TopK", ["scores", "k"], ["top_values", "top_indices"], axis=-1),
        helper.make_node("Cast", ["top_indices"], ["indices32"], to=TensorProto.INT32),
        helper.make_node("Identity", ["indices32"], ["bidx"]),
    ]
    return model(
        nodes,
        [helper.make_tensor_value_info("vec", TensorProto.FLOAT16, [1, OUT_FRAMES, EMBED])],
        [helper.make_tensor_value_info("bidx", TensorProto.INT32, [1, OUT_FRAMES, TOP_BLOCKS])],
        [const("blocks", blocks), const("k", np.array([TOP_BLOCKS], dtype=np.int64))])


def punct_head():
    wp = np.zeros((EMBED + 1, 4), dtype=np.float32)
    wc = np.zeros((EMBED + 1, 3), dtype=np.float32)
    wp[1, 2] = 1.0  # "world" -> period
    wc[2, 2] = 1.0  # "api" -> upper
    nodes = [
        helper.make_node("Cast", ["vec"], ["vec32"], to=TensorProto.FLOAT),
        helper.make_node("Cast", ["mask"], ["mask32"], to=TensorProto.FLOAT),
        helper.make_node("Reshape", ["mask32", "mask_shape"], ["mask1"]),
        helper.make_node("Concat", ["vec32", "mask1"], ["joined"], axis=2),
        helper.make_node("MatMul", ["joined", "wp"], ["punct32"]),
        helper.make_node("Cast", ["punct32"], ["punct16"], to=TensorProto.FLOAT16),
        helper.make_node("Identity", ["punct16"], ["punct"]),
        helper.make_node("MatMul", ["joined", "wc"], ["case32"]),
        helper.make_node("Cast", ["case32"], ["case16"], to=TensorProto.FLOAT16),
        helper.make_node("Identity", ["case16"], ["case"]),
    ]
    return model(
        nodes,
        [helper.make_tensor_value_info("vec", TensorProto.FLOAT16, [1, PUNCT_CHUNK, EMBED]),
         helper.make_tensor_value_info("mask", TensorProto.FLOAT16, [1, PUNCT_CHUNK])],
        [helper.make_tensor_value_info("punct", TensorProto.FLOAT16, [1, PUNCT_CHUNK, 4]),
         helper.make_tensor_value_info("case", TensorProto.FLOAT16, [1, PUNCT_CHUNK, 3])],
        [const("mask_shape", np.array([1, PUNCT_CHUNK, 1], dtype=np.int64)), const("wp", wp), const("wc", wc)])


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    folder = sys.argv[1]
    os.makedirs(folder, exist_ok=True)

    n = np.arange(320, dtype=np.float64)
    hann = (0.5 - 0.5 * np.cos(2 * np.pi * n / 320)).astype("<f4")
    hann.tofile(os.path.join(folder, "hann_320.f32"))
    filters = np.zeros((257, MEL_BINS), dtype="<f4")
    for m in range(MEL_BINS):
        filters[2 * m, m] = 1.0
        filters[2 * m + 1, m] = 1.0
    filters.tofile(os.path.join(folder, "mel_filters_257x128.f32"))

    with open(os.path.join(folder, "reader_words.json"), "w") as f:
        json.dump(WORDS, f)
    word_table().astype("<f2").tofile(os.path.join(folder, "word_unit_f16.bin"))
    with open(os.path.join(folder, "reader_P6.json"), "w") as f:
        json.dump({"scale": 1.0, "bias": 0.0, "note": "synthetic"}, f)
    with open(os.path.join(folder, "punct_case.json"), "w") as f:
        json.dump({"gpu": 2, "ignored": 7}, f)

    save(encoder(), folder, "eg2_audio_l11.mlmodelc")
    save(reader(), folder, "reader_P6.mlmodelc")
    save(scorer(), folder, "scorer_blk_d128_k16_b4_t500.mlmodelc")
    save(punct_head(), folder, "punct_headonly.mlmodelc")


if __name__ == "__main__":
    main()
