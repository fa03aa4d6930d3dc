#!/usr/bin/python3
"""Trains the demonstration EG2 model set and writes the model folder.

The models are trained for the way the pipeline decodes them. Per 40 ms frame the reader
gives a unit vector v and a blank score; a word's score is scale * (v . row) + bias, with
the word table's unit rows; the pipeline keeps the best word when that score beats the
blank score and merges runs of one word (a blank separates two equal words, "<rep>"
repeats the previous one). That is greedy CTC decoding over the classes [blank, words],
so the objective is CTC with exactly those logits, and "scale" and "bias" are stored in
"reader_P6.json".

Usage:
  train.py tables <model-folder>
      writes "hann_320.f32" and "mel_filters_257x128.f32" (the feature tool needs them)
  train.py punct <data-dir> <model-folder>
      trains the punctuation-and-case head over the folder's word table on the training
      sentences (a period after each sentence, the commas the speech paused at; every
      word keeps the case the word list gives it) and writes it with "punct_case.json"
  train.py train <data-dir> <model-folder> [minutes]
      trains on <data-dir>/train (features from eg2-features), exports the models, the
      word list and the word table, and prints the held-out word error rate of the
      Python models (greedy decoding as the pipeline does it)
  train.py continue <data-dir> <start-folder> <model-folder> [minutes] [peak-learning-rate]
                    [channels] [extra-layers]
      reads the models of <start-folder> back (the encoder grown to <channels> channels and
      <extra-layers> more residual layers when given, starting from what the smaller
      encoder computes), trains them further on <data-dir>/train (its first 300
      clips calibrate the bias instead), writes the calibrated model to <model-folder>
      whenever it does better on those clips than the best so far (the calibrated start
      first, then every 12 minutes and at the end) and prints the held-out word error rate
      of the Python models of the set it kept
"""

import json
import math
import os
import random
import sys
import time

import numpy as np
import torch
import torch.nn as nn
import torch.nn.functional as F

HERE = os.path.dirname(os.path.abspath(__file__))
SEED = 20261210
MEL_BINS = 128
MEL_FRAMES = 2000
OUT_FRAMES = 500
HIDDEN = 1024
EMBED = 768
TOP_BLOCKS = 16
BLOCK = 4
CHANNELS = 128
READER_CHANNELS = 128
DILATIONS = [1, 2, 4, 1, 2]
# Reader vectors and word rows are trained in RANK dimensions and written out in 768
# through a fixed matrix with orthonormal columns, which keeps every dot product and
# every length (so the pipeline's scores equal the trained ones) at a twelfth of the cost.
RANK = 64
LETTERS = "abcdefghijklmnopqrstuvwxyz'+|"


def threads():
    n = int(os.environ.get("EG2_TRAIN_THREADS", "3"))
    torch.set_num_threads(n)
    return n


# --- feature tables ---------------------------------------------------------------------

def write_tables(folder):
    os.makedirs(folder, exist_ok=True)
    n = np.arange(320, dtype=np.float64)
    (0.5 - 0.5 * np.cos(2 * np.pi * n / 320)).astype("<f4").tofile(os.path.join(folder, "hann_320.f32"))

    # Triangular filters evenly spaced on the mel scale from 0 to 8 kHz over the 257
    # magnitude bins of a 512-point DFT; a band too narrow to hold a bin takes its nearest.
    def mel(f):
        return 2595.0 * np.log10(1.0 + f / 700.0)

    def hz(m):
        return 700.0 * (10.0 ** (m / 2595.0) - 1.0)

    edges = hz(np.linspace(mel(0.0), mel(8000.0), MEL_BINS + 2))
    bins = np.arange(257) * 16000.0 / 512
    filters = np.zeros((257, MEL_BINS))
    for m in range(MEL_BINS):
        lo, mid, hi = edges[m], edges[m + 1], edges[m + 2]
        rise = (bins - lo) / (mid - lo)
        fall = (hi - bins) / (hi - mid)
        filters[:, m] = np.maximum(0.0, np.minimum(rise, fall))
        if filters[:, m].sum() == 0.0:
            filters[int(round(mid * 512 / 16000.0)), m] = 1.0
    filters.astype("<f4").tofile(os.path.join(folder, "mel_filters_257x128.f32"))


# --- models -----------------------------------------------------------------------------

def ones_conv(out_channels):
    """Copies a one-channel map onto every channel (a broadcast the runtime handles as a layer)."""
    conv = nn.Conv2d(1, out_channels, (1, 1), bias=False)
    nn.init.ones_(conv.weight)
    conv.weight.requires_grad_(False)
    return conv


class Encoder(nn.Module):
    """log-mel [B, 2000, 128] and mask [B, 2000] -> l11 as [B, 1024, 500, 1]."""

    def __init__(self, mean, std):
        super().__init__()
        self.batch = None  # fixed to 1 while exporting, so the graph has constant shapes
        self.norm_in = nn.Conv2d(MEL_BINS, MEL_BINS, (1, 1))
        with torch.no_grad():
            self.norm_in.weight.copy_(torch.diag(torch.tensor(1.0 / std, dtype=torch.float32)).view(
                MEL_BINS, MEL_BINS, 1, 1))
            self.norm_in.bias.copy_(torch.tensor(-mean / std, dtype=torch.float32))
        self.norm_in.requires_grad_(False)
        self.mask_in = ones_conv(MEL_BINS)
        self.mask_hidden = ones_conv(CHANNELS)
        self.sub1 = nn.Conv2d(MEL_BINS, CHANNELS, (3, 1), stride=(2, 1), padding=(1, 0))
        self.sub2 = nn.Conv2d(CHANNELS, CHANNELS, (3, 1), stride=(2, 1), padding=(1, 0))
        self.blocks = nn.ModuleList(
            nn.Conv2d(CHANNELS, CHANNELS, (3, 1), padding=(d, 0), dilation=(d, 1)) for d in DILATIONS)
        self.norms = nn.ModuleList(nn.BatchNorm2d(CHANNELS) for _ in DILATIONS)
        self.frozen_norms = False  # a model loaded back from its export has the norms folded in

    def forward(self, features, mask):
        b = self.batch or features.shape[0]
        t = MEL_FRAMES if self.batch else features.shape[1]
        m = mask.reshape(b, 1, t, 1)
        # Exported, the masks are spread over the channels by a layer; trained, by broadcasting.
        spread_in, spread = (self.mask_in, self.mask_hidden) if self.batch else (nn.Identity(), nn.Identity())
        x = self.norm_in(features.permute(0, 2, 1).reshape(b, MEL_BINS, t, 1)) * spread_in(m)
        x = F.relu(self.sub1(x))
        # Output frame j carries audio when any of its four feature frames does; frames past
        # the audio are held at zero, so a window padded to 2000 frames reads as a short
        # training clip does.
        keep = spread(F.max_pool2d(m, (4, 1)))
        x = F.relu(self.sub2(x)) * keep
        for conv, norm in zip(self.blocks, self.norms):
            x = (x + F.relu(norm(conv(x)))) * keep
        return x  # [B, CHANNELS, T/4, 1]

    def export_forward(self, features, mask, pad):
        # "l11" carries the hidden channels followed by zeros.
        return pad(self.forward(features, mask)).reshape(1, HIDDEN, OUT_FRAMES).permute(0, 2, 1)


class Reader(nn.Module):
    """encoder channels [B, CHANNELS, T, 1] and mask [B, T] -> unit vectors [B, T, RANK], blank [B, T]."""

    def __init__(self):
        super().__init__()
        self.batch = None
        self.inp = nn.Conv2d(CHANNELS, READER_CHANNELS, (1, 1))
        self.ctx = nn.Conv2d(READER_CHANNELS, READER_CHANNELS, (3, 1), padding=(1, 0))
        self.vec = nn.Conv2d(READER_CHANNELS, RANK, (1, 1))
        self.blank = nn.Conv2d(READER_CHANNELS, 1, (1, 1))
        self.letters = nn.Conv2d(READER_CHANNELS, len(LETTERS) + 1, (1, 1))  # training aid only

    def trunk(self, l11):
        x = F.relu(self.inp(l11))
        return x + F.relu(self.ctx(x))

    def heads(self, x, mask):
        v = self.vec(x).squeeze(-1).transpose(1, 2)
        v = v / torch.sqrt((v * v).sum(-1, keepdim=True) + 1e-6)
        blank = self.blank(x).squeeze(-1).squeeze(1) + (1.0 - mask) * 1000.0
        return v, blank


class ReaderExport(nn.Module):
    """The reader as the pipeline runs it: "l11" [1, 500, 1024] and "mask" [1, 500] ->
    "vec" [1, 500, 768] (unit vectors, half precision) and "blank" [1, 500]."""

    def __init__(self, reader, q):
        super().__init__()
        self.inp = nn.Conv2d(HIDDEN, READER_CHANNELS, (1, 1))
        self.ctx = reader.ctx
        self.vec = nn.Conv2d(READER_CHANNELS, EMBED, (1, 1))
        self.blank = reader.blank
        self.square_sum = nn.Conv2d(EMBED, 1, (1, 1), bias=False)
        self.spread = ones_conv(EMBED)
        with torch.no_grad():
            self.inp.weight.zero_()
            self.inp.weight[:, :CHANNELS] = reader.inp.weight
            self.inp.bias.copy_(reader.inp.bias)
            self.vec.weight.copy_((q @ reader.vec.weight.view(RANK, READER_CHANNELS)).view(EMBED, READER_CHANNELS, 1, 1))
            self.vec.bias.copy_(q @ reader.vec.bias)
            nn.init.ones_(self.square_sum.weight)

    def forward(self, l11, mask):
        x = F.relu(self.inp(l11.permute(0, 2, 1).reshape(1, HIDDEN, OUT_FRAMES, 1)))
        x = x + F.relu(self.ctx(x))
        v = self.vec(x)
        v = v * self.spread(torch.pow(self.square_sum(v * v) + 1e-6, -0.5))
        v = v.reshape(1, EMBED, OUT_FRAMES).permute(0, 2, 1)
        blank = self.blank(x).reshape(1, OUT_FRAMES) + (1.0 - mask) * 1000.0
        return v.half(), blank.half()


def load_exported(folder, words):
    """The model as written to <folder> by export_models, ready to train on: the encoder's
    and the reader's weights from the ONNX files (each normalisation folded into its
    convolution, so the normalisations become fixed identities), the word rows and the
    reader's vector layer projected back onto the RANK dimensions, the calibration from
    "reader_P6.json". The letter head is not exported and starts afresh."""
    import onnx
    from onnx import numpy_helper

    def weights(bundle):
        graph = onnx.load(os.path.join(folder, bundle, "model.onnx")).graph
        values = {w.name: torch.from_numpy(numpy_helper.to_array(w).copy()) for w in graph.initializer}
        convs = [(n.input[1], n.input[2] if len(n.input) > 2 else None) for n in graph.node if n.op_type == "Conv"]
        return values, convs

    configure(folder)
    model = Model(words, np.zeros(MEL_BINS), np.ones(MEL_BINS))
    enc, rdr = model.encoder, model.reader
    q = expansion()
    values, convs = weights("eg2_audio_l11.mlmodelc")
    blocks = [c for c in convs if c[0].startswith("onnx::")]
    with torch.no_grad():
        for name in ("norm_in", "sub1", "sub2"):
            getattr(enc, name).weight.copy_(values["enc.%s.weight" % name])
            getattr(enc, name).bias.copy_(values["enc.%s.bias" % name])
        for conv, norm, (w, b) in zip(enc.blocks, enc.norms, blocks):
            conv.weight.copy_(values[w])
            conv.bias.copy_(values[b])
            norm.eps = 0.0
            norm.running_mean.zero_()
            norm.running_var.fill_(1.0)
            norm.weight.fill_(1.0)
            norm.bias.zero_()
        enc.frozen_norms = True
        values, _ = weights("reader_P6.mlmodelc")
        rdr.inp.weight.copy_(values["inp.weight"][:, :CHANNELS])
        rdr.inp.bias.copy_(values["inp.bias"])
        rdr.ctx.weight.copy_(values["ctx.weight"])
        rdr.ctx.bias.copy_(values["ctx.bias"])
        rdr.vec.weight.copy_((q.t() @ values["vec.weight"].view(EMBED, READER_CHANNELS)).view(RANK, READER_CHANNELS, 1, 1))
        rdr.vec.bias.copy_(q.t() @ values["vec.bias"])
        rdr.blank.weight.copy_(values["blank.weight"])
        rdr.blank.bias.copy_(values["blank.bias"])
        table = np.fromfile(os.path.join(folder, "word_unit_f16.bin"), dtype="<f2").reshape(-1, EMBED)
        model.table.copy_(torch.from_numpy(table.astype(np.float32)) @ q)
        calibration = json.load(open(os.path.join(folder, "reader_P6.json")))
        model.scale.fill_(calibration["scale"])
        model.bias.fill_(calibration["bias"])
    return model


def configure(folder):
    """Sets the encoder's width and its residual layers' dilations to those of the exported
    encoder in <folder> (a set may have been grown from a smaller one)."""
    import onnx
    global CHANNELS, DILATIONS
    graph = onnx.load(os.path.join(folder, "eg2_audio_l11.mlmodelc", "model.onnx")).graph
    shapes = {w.name: list(w.dims) for w in graph.initializer}
    CHANNELS = shapes["enc.sub2.weight"][0]
    DILATIONS = [next(list(a.ints)[0] for a in n.attribute if a.name == "dilations")
                 for n in graph.node if n.op_type == "Conv" and n.input[1].startswith("onnx::")]


def grown(model, words, channels, extra_dilations, seed):
    """A wider and deeper copy of a loaded model that computes what it computes: each
    encoder layer gets channels - CHANNELS new channels whose weights into the old channels
    are zero (so the old channels are unchanged and the reader, which starts by ignoring
    the new ones, reads exactly what it read), and further residual layers are appended
    with small weights (which change the result only slightly). Training then puts the new
    channels and layers to use."""
    global CHANNELS, DILATIONS
    old_channels = CHANNELS
    if channels < old_channels:
        sys.exit("the encoder has %d channels; it can only grow" % old_channels)
    CHANNELS = channels
    DILATIONS = DILATIONS + extra_dilations
    old_blocks = len(model.encoder.blocks)
    new = Model(words, np.zeros(MEL_BINS), np.ones(MEL_BINS))
    g = torch.Generator().manual_seed(seed)
    enc_o, enc_n = model.encoder, new.encoder

    def copy_conv(dst, src, in_old):
        # dst keeps its seeded random start for the rows of the new channels.
        dst.weight.copy_(torch.empty_like(dst.weight).uniform_(-1, 1, generator=g)
                         * (1.0 / math.sqrt(dst.weight[0].numel())))
        dst.bias.zero_()
        dst.weight[:old_channels] = 0.0
        dst.weight[:old_channels, :in_old] = src.weight
        dst.bias[:old_channels] = src.bias

    with torch.no_grad():
        enc_n.norm_in.load_state_dict(enc_o.norm_in.state_dict())
        copy_conv(enc_n.sub1, enc_o.sub1, MEL_BINS)
        copy_conv(enc_n.sub2, enc_o.sub2, old_channels)
        for i, (conv, norm) in enumerate(zip(enc_n.blocks, enc_n.norms)):
            if i < old_blocks:
                copy_conv(conv, enc_o.blocks[i], old_channels)
            else:
                conv.weight.copy_(torch.empty_like(conv.weight).uniform_(-1, 1, generator=g)
                                  * (0.01 / math.sqrt(conv.weight[0].numel())))
                conv.bias.zero_()
            norm.eps = 0.0
            norm.running_mean.zero_()
            norm.running_var.fill_(1.0)
            norm.weight.fill_(1.0)
            norm.bias.zero_()
        enc_n.frozen_norms = enc_o.frozen_norms
        state = model.reader.state_dict()
        state["inp.weight"] = torch.cat([state["inp.weight"], torch.zeros(
            READER_CHANNELS, channels - old_channels, 1, 1)], dim=1)
        new.reader.load_state_dict(state)
        new.table.copy_(model.table)
        new.scale.copy_(model.scale)
        new.bias.copy_(model.bias)
    return new


def expansion():
    """The fixed RANK -> 768 matrix with orthonormal columns."""
    g = torch.Generator().manual_seed(SEED)
    q, _ = torch.linalg.qr(torch.randn(EMBED, RANK, generator=g, dtype=torch.float64))
    return q.float()


class Model(nn.Module):
    def train(self, mode=True):
        super().train(mode)
        if self.encoder.frozen_norms:
            self.encoder.norms.eval()
        return self

    def __init__(self, words, mean, std):
        super().__init__()
        self.encoder = Encoder(mean, std)
        self.reader = Reader()
        self.table = nn.Parameter(torch.randn(len(words), RANK) * 0.1)
        self.scale = nn.Parameter(torch.tensor(10.0))
        self.bias = nn.Parameter(torch.tensor(0.0))

    def unit_table(self):
        return self.table / torch.sqrt((self.table * self.table).sum(-1, keepdim=True) + 1e-6)

    def forward(self, features, mask):
        l11 = self.encoder(features, mask)
        out_mask = mask[:, ::4]
        x = self.reader.trunk(l11)
        v, blank = self.reader.heads(x, out_mask)
        # Class 0 is blank, class i + 1 word i: one product of [v, blank, 1] with
        # [0, 1, 0] and the rows [scale * row, 0, bias].
        ones = torch.ones_like(blank).unsqueeze(-1)
        a = torch.cat([v, blank.unsqueeze(-1), ones], dim=-1)
        rows = torch.cat([self.scale * self.unit_table(), torch.zeros_like(self.table[:, :1]),
                          self.bias.expand(len(self.table), 1)], dim=1)
        blank_row = torch.zeros(1, RANK + 2)
        blank_row[0, RANK] = 1.0
        logits = a @ torch.cat([blank_row, rows]).t()
        letters = self.reader.letters(x).squeeze(-1).transpose(1, 2)
        return logits, letters, out_mask


# --- data -------------------------------------------------------------------------------

def load_split(data_dir, split, word_index):
    records, feats = [], []
    with open(os.path.join(data_dir, split + ".jsonl")) as f:
        for line in f:
            r = json.loads(line)
            mel = np.fromfile(os.path.join(data_dir, split, r["id"] + ".mel"), dtype="<f4").reshape(-1, MEL_BINS)
            records.append(r)
            feats.append(mel.astype(np.float16))
    labels = [[word_index[w] + 1 for w in r["words"]] for r in records]
    return records, feats, labels


def letter_labels(words):
    out = []
    for i, w in enumerate(words):
        if i:
            out.append(LETTERS.index("|") + 1)
        for c in w.lower():
            out.append((LETTERS.index(c) if c in LETTERS else LETTERS.index("+")) + 1)
    return out


def batches(lengths, max_frames, rng):
    order = sorted(range(len(lengths)), key=lambda i: lengths[i] + rng.random() * 60)
    out, cur, longest = [], [], 0
    for i in order:
        longest2 = max(longest, lengths[i])
        if cur and longest2 * (len(cur) + 1) > max_frames:
            out.append(cur)
            cur, longest2 = [], lengths[i]
        cur.append(i)
        longest = longest2
    if cur:
        out.append(cur)
    rng.shuffle(out)
    return out


def collate(idx, feats, augment, rng):
    t = max(len(feats[i]) for i in idx)
    t = (t + 3) // 4 * 4 + 8
    x = np.zeros((len(idx), t, MEL_BINS), dtype=np.float32)
    m = np.zeros((len(idx), t), dtype=np.float32)
    for b, i in enumerate(idx):
        n = len(feats[i])
        x[b, :n] = feats[i]
        m[b, :n] = 1.0
        if augment:
            for _ in range(2):  # frequency masks
                w = rng.randint(1, 12)
                s = rng.randint(0, MEL_BINS - w)
                x[b, :n, s:s + w] = feats[i][:, s:s + w].mean()
            for _ in range(max(1, n // 300)):  # short time masks
                w = rng.randint(1, 8)
                s = rng.randint(0, max(0, n - w))
                x[b, s:s + w, :] = x[b, :n].mean(0)
    return torch.from_numpy(x), torch.from_numpy(m)


def greedy(logits, out_len):
    """Frame decisions as the pipeline makes them, then its greedy collapse."""
    best = logits.argmax(-1).tolist()
    words, prev = [], 0
    for c in best[:out_len]:
        if c != prev and c != 0:
            words.append(c - 1)
        prev = c
    return words


def render(indices, words):
    out, last = [], None
    for i in indices:
        w = words[i]
        if w == "<rep>":
            if last is None:
                continue
            w = last
        last = w
        out.append(w)
    return out


def edit_distance(a, b):
    d = list(range(len(b) + 1))
    for i in range(1, len(a) + 1):
        prev, d[0] = d[0], i
        for j in range(1, len(b) + 1):
            cur = d[j]
            d[j] = min(d[j] + 1, d[j - 1] + 1, prev + (a[i - 1] != b[j - 1]))
            prev = cur
    return d[len(b)]


def spoken_words(record):
    return [w.lower() for w in sum(record["sentences"], [])]


def evaluate(model, feats, records, words):
    model.eval()
    errors = total = 0
    hyps = []
    with torch.no_grad():
        for i in range(len(feats)):
            x, m = collate([i], feats, False, None)
            logits, _, om = model(x, m)
            n = int(om.sum().item())
            hyp = render(greedy(logits[0], n), words)
            ref = spoken_words(records[i])
            errors += edit_distance([w.lower() for w in hyp], ref)
            total += len(ref)
            hyps.append(hyp)
    model.train()
    return errors / max(1, total), hyps


# --- export -----------------------------------------------------------------------------

def export_models(model, words, folder):
    import onnx
    from onnx import TensorProto, helper, numpy_helper

    model.eval()
    enc, rdr = model.encoder, model.reader

    class EncoderExport(nn.Module):
        def __init__(self):
            super().__init__()
            self.enc = enc
            self.pad = nn.Conv2d(CHANNELS, HIDDEN, (1, 1), bias=False)
            with torch.no_grad():
                self.pad.weight.zero_()
                self.pad.weight[:CHANNELS, :, 0, 0] = torch.eye(CHANNELS)

        def forward(self, input_features, feature_mask):
            self.enc.batch = 1
            return self.enc.export_forward(input_features, feature_mask, self.pad).half()

    def save(module, args, inputs, outputs, bundle):
        os.makedirs(os.path.join(folder, bundle), exist_ok=True)
        path = os.path.join(folder, bundle, "model.onnx")
        torch.onnx.export(module, args, path, input_names=inputs, output_names=outputs, opset_version=11,
                          do_constant_folding=True)
        # Equal weights are exported once and aliased by Identity nodes, which the runtime
        # cannot read: give each alias its own copy.
        exported = onnx.load(path)
        graph = exported.graph
        weights = {w.name: w for w in graph.initializer}
        for node in [n for n in graph.node if n.op_type == "Identity" and n.input[0] in weights]:
            copy = onnx.TensorProto()
            copy.CopyFrom(weights[node.input[0]])
            copy.name = node.output[0]
            graph.initializer.append(copy)
            graph.node.remove(node)
        onnx.checker.check_model(exported, full_check=True)
        onnx.save(exported, path)
        enc.batch = None

    save(EncoderExport().eval(), (torch.zeros(1, MEL_FRAMES, MEL_BINS), torch.ones(1, MEL_FRAMES)),
         ["input_features", "feature_mask"], ["l11"], "eg2_audio_l11.mlmodelc")
    q = expansion()
    save(ReaderExport(rdr, q).eval(), (torch.zeros(1, OUT_FRAMES, HIDDEN), torch.ones(1, OUT_FRAMES)), ["l11", "mask"],
         ["vec", "blank"], "reader_P6.mlmodelc")

    # The block scorer: exact scores against every row, the best row of each block of four,
    # the sixteen best blocks.
    table = (model.unit_table().detach() @ q.t()).numpy().astype(np.float16)
    rows = len(words)
    nodes = [
        helper.make_node("Cast", ["vec"], ["vec32"], to=TensorProto.FLOAT),
        helper.make_node("MatMul", ["vec32", "table_t"], ["scores"]),
        helper.make_node("Reshape", ["scores", "block_shape"], ["blocks"]),
        helper.make_node("ReduceMax", ["blocks"], ["block_best"], axes=[3], keepdims=0),
        helper.make_node("TopK", ["block_best", "k"], ["top_values", "top_indices"], axis=-1),
        helper.make_node("Cast", ["top_indices"], ["indices32"], to=TensorProto.INT32),
        helper.make_node("Identity", ["indices32"], ["bidx"]),
    ]
    graph = helper.make_graph(
        nodes, "scorer",
        [helper.make_tensor_value_info("vec", TensorProto.FLOAT16, [1, OUT_FRAMES, EMBED])],
        [helper.make_tensor_value_info("bidx", TensorProto.INT32, [1, OUT_FRAMES, TOP_BLOCKS])],
        [numpy_helper.from_array(table.astype(np.float32).T.copy(), "table_t"),
         numpy_helper.from_array(np.array([1, OUT_FRAMES, rows // BLOCK, BLOCK], dtype=np.int64), "block_shape"),
         numpy_helper.from_array(np.array([TOP_BLOCKS], dtype=np.int64), "k")])
    scorer = helper.make_model(graph, opset_imports=[helper.make_opsetid("", 13)], producer_name="eg2-demo")
    onnx.checker.check_model(scorer, full_check=True)
    os.makedirs(os.path.join(folder, "scorer_blk_d128_k16_b4_t500.mlmodelc"), exist_ok=True)
    onnx.save(scorer, os.path.join(folder, "scorer_blk_d128_k16_b4_t500.mlmodelc", "model.onnx"))

    table.astype("<f2").tofile(os.path.join(folder, "word_unit_f16.bin"))
    with open(os.path.join(folder, "reader_words.json"), "w") as f:
        json.dump(words, f, ensure_ascii=False)
    with open(os.path.join(folder, "reader_P6.json"), "w") as f:
        json.dump({"scale": float(model.scale.item()), "bias": float(model.bias.item()),
                   "note": "demonstration model trained on synthetic speech"}, f)


# --- punctuation and case head ------------------------------------------------------------

PUNCT_CHUNK = 96


class PunctHead(nn.Module):
    """word vectors [B, 768, 96, 1] and mask [B, 1, 96, 1] -> punct [B, 4, 96, 1], case [B, 3, 96, 1]."""

    def __init__(self):
        super().__init__()
        self.inp = nn.Conv2d(EMBED + 1, 32, (1, 1))
        self.mid = nn.Conv2d(32, 32, (3, 1), padding=(1, 0))
        self.punct = nn.Conv2d(32, 4, (3, 1), padding=(1, 0))
        self.case = nn.Conv2d(32, 3, (1, 1))

    def forward(self, vec, mask):
        x = F.relu(self.inp(torch.cat([vec, mask], dim=1)))
        x = F.relu(self.mid(x))
        return self.punct(x), self.case(x)


def punct_examples(data_dir, word_index):
    """Word-index chunks and their punctuation classes (0 none, 1 comma, 2 period) from the spoken texts."""
    chunks = []
    with open(os.path.join(data_dir, "train.jsonl")) as f:
        for line in f:
            r = json.loads(line)
            tokens = r["text"].split()
            idx = [word_index[t.rstrip(",.")] for t in tokens]
            cls = [1 if t.endswith(",") else 2 if t.endswith(".") else 0 for t in tokens]
            chunks.append((idx, cls))
    return chunks


def train_punct(data_dir, folder):
    import onnx
    from onnx import TensorProto, helper

    threads()
    torch.manual_seed(SEED)
    rng = random.Random(SEED)
    words = json.load(open(os.path.join(folder, "reader_words.json")))
    word_index = {w: i for i, w in enumerate(words)}
    table = torch.from_numpy(np.fromfile(os.path.join(folder, "word_unit_f16.bin"), dtype="<f2")
                             .reshape(-1, EMBED).astype(np.float32))
    examples = punct_examples(data_dir, word_index)
    head = PunctHead()
    opt = torch.optim.Adam(head.parameters(), lr=3e-3)
    for step in range(300):
        # Dictations of one to several recorded texts, as the pipeline hands them over.
        vec = torch.zeros(16, EMBED, PUNCT_CHUNK, 1)
        mask = torch.zeros(16, 1, PUNCT_CHUNK, 1)
        target = torch.full((16, PUNCT_CHUNK), -100, dtype=torch.long)
        for b in range(16):
            idx, cls = [], []
            for _ in range(rng.randint(1, 6)):
                i, c = rng.choice(examples)
                idx += i
                cls += c
            idx, cls = idx[:PUNCT_CHUNK], cls[:PUNCT_CHUNK]
            vec[b, :, :len(idx), 0] = table[idx].t()
            mask[b, 0, :len(idx), 0] = 1.0
            target[b, :len(idx)] = torch.tensor(cls)
        punct, case = head(vec, mask)
        loss = F.cross_entropy(punct.squeeze(-1), target, ignore_index=-100)
        # Every word keeps the case of its list entry: class "lower" leaves it as it is.
        loss = loss + 0.1 * F.cross_entropy(case.squeeze(-1), torch.where(target >= 0, 0, -100),
                                            ignore_index=-100)
        opt.zero_grad()
        loss.backward()
        opt.step()
        if step % 100 == 0:
            print("punct step %d loss %.3f" % (step, loss.item()), flush=True)

    class HeadExport(nn.Module):
        def __init__(self):
            super().__init__()
            self.head = head

        def forward(self, vec, mask):
            punct, case = self.head(vec.permute(0, 2, 1).reshape(1, EMBED, PUNCT_CHUNK, 1),
                                    mask.reshape(1, 1, PUNCT_CHUNK, 1))
            return (punct.reshape(1, 4, PUNCT_CHUNK).permute(0, 2, 1),
                    case.reshape(1, 3, PUNCT_CHUNK).permute(0, 2, 1))

    bundle = os.path.join(folder, "punct_headonly.mlmodelc")
    os.makedirs(bundle, exist_ok=True)
    path = os.path.join(bundle, "model.onnx")
    torch.onnx.export(HeadExport().eval(), (torch.zeros(1, PUNCT_CHUNK, EMBED), torch.ones(1, PUNCT_CHUNK)), path,
                      input_names=["vec32", "mask32"], output_names=["punct32", "case32"], opset_version=11)
    # The head takes and gives half precision: casts around the float graph.
    model = onnx.load(path)
    graph = model.graph
    for value in list(graph.input) + list(graph.output):
        value.type.tensor_type.elem_type = TensorProto.FLOAT16
        value.name = value.name[:-2]
    for node in graph.node:
        node.input[:] = [n + "_f" if n in ("vec32", "mask32") else n for n in node.input]
        node.output[:] = [n + "_f" if n in ("punct32", "case32") else n for n in node.output]
    graph.node.insert(0, helper.make_node("Cast", ["vec"], ["vec32_f"], to=TensorProto.FLOAT))
    graph.node.insert(1, helper.make_node("Cast", ["mask"], ["mask32_f"], to=TensorProto.FLOAT))
    graph.node.append(helper.make_node("Cast", ["punct32_f"], ["punct"], to=TensorProto.FLOAT16))
    graph.node.append(helper.make_node("Cast", ["case32_f"], ["case"], to=TensorProto.FLOAT16))
    onnx.checker.check_model(model, full_check=True)
    onnx.save(model, path)
    with open(os.path.join(folder, "punct_case.json"), "w") as f:
        json.dump({}, f)


# --- training ---------------------------------------------------------------------------

def train(data_dir, folder, minutes):
    n_threads = threads()
    random.seed(SEED)
    np.random.seed(SEED)
    torch.manual_seed(SEED)
    rng = random.Random(SEED)

    with open(os.path.join(HERE, "vocabulary.txt")) as f:
        words = [w.strip() for w in f if w.strip()]
    word_index = {w: i for i, w in enumerate(words)}
    t0 = time.time()
    records, feats, labels = load_split(data_dir, "train", word_index)
    h_records, h_feats, _ = load_split(data_dir, "heldout", word_index)
    letters = [letter_labels(r["words"]) for r in records]
    sample = np.concatenate([f[::7] for f in feats[::5]]).astype(np.float32)
    mean, std = sample.mean(0), sample.std(0) + 1e-3
    print("data: %d training clips (%.2f h), %d held-out clips (%.2f h), loaded in %.0f s" % (
        len(feats), sum(len(f) for f in feats) / 360000, len(h_feats), sum(len(f) for f in h_feats) / 360000,
        time.time() - t0), flush=True)

    model = Model(words, mean, std)
    opt = torch.optim.AdamW(model.parameters(), lr=2e-3, weight_decay=1e-2)
    budget = minutes * 60
    lengths = [len(f) for f in feats]
    start = time.time()
    step = epoch = 0
    peak_lr, warmup = 3e-3, 50
    done = False
    while not done:
        epoch += 1
        for idx in batches(lengths, 6000, rng):
            elapsed = time.time() - start
            if elapsed > budget:
                done = True
                break
            frac = elapsed / budget
            lr = peak_lr * min(1.0, (step + 1) / warmup) * (0.05 + 0.95 * 0.5 * (1 + math.cos(math.pi * frac)))
            for g in opt.param_groups:
                g["lr"] = lr
            x, m = collate(idx, feats, True, rng)
            logits, letter_logits, om = model(x, m)
            out_len = om.sum(1).long()
            target = torch.tensor(sum((labels[i] for i in idx), []), dtype=torch.long)
            target_len = torch.tensor([len(labels[i]) for i in idx], dtype=torch.long)
            lp = F.log_softmax(logits, -1).transpose(0, 1)
            loss = F.ctc_loss(lp, target, out_len, target_len, blank=0, zero_infinity=True)
            lt = torch.tensor(sum((letters[i] for i in idx), []), dtype=torch.long)
            lt_len = torch.tensor([len(letters[i]) for i in idx], dtype=torch.long)
            llp = F.log_softmax(letter_logits, -1).transpose(0, 1)
            aux = F.ctc_loss(llp, lt, out_len, lt_len, blank=0, zero_infinity=True)
            total = loss + 0.3 * aux
            opt.zero_grad()
            total.backward()
            nn.utils.clip_grad_norm_(model.parameters(), 5.0)
            opt.step()
            step += 1
            if step % 25 == 0:
                print("epoch %d step %d  %.0f s  lr %.2e  ctc %.3f  letters %.3f  scale %.1f bias %.2f" % (
                    epoch, step, time.time() - start, lr, loss.item(), aux.item(), model.scale.item(),
                    model.bias.item()), flush=True)
            if step % 300 == 0:
                wer, _ = evaluate(model, h_feats[:20], h_records[:20], words)
                print("  held-out WER (20 clips) %.2f %%" % (100 * wer), flush=True)
    train_seconds = time.time() - start
    wer, hyps = evaluate(model, h_feats, h_records, words)
    export_models(model, words, folder)
    with open(os.path.join(data_dir, "python-heldout.json"), "w") as f:
        json.dump({r["id"]: h for r, h in zip(h_records, hyps)}, f)
    print("trained %d steps (%d epochs) in %.1f min on %d threads" % (step, epoch, train_seconds / 60, n_threads))
    print("Python held-out WER: %.2f %% over %d clips" % (100 * wer, len(h_feats)), flush=True)
    torch.save(model.state_dict(), os.path.join(data_dir, "model.pt"))


# --- continued training and calibration -----------------------------------------------------

DEV_CLIPS = 300  # the first clips of a continuation's training set: calibration only
CHECKPOINT_MINUTES = 12
EXTRA_DILATIONS = [4, 1, 2, 4]  # residual layers a continuation can append


def frame_logits(model, feats):
    out = []
    model.eval()
    with torch.no_grad():
        for i in range(len(feats)):
            x, m = collate([i], feats, False, None)
            logits, _, om = model(x, m)
            out.append(logits[0, :int(om.sum().item())].clone())
    model.train()
    return out


def decoded_wer(logits, records, words, shift=0.0):
    """Word error rate of the greedy decoding with every word score raised by shift (the
    pipeline's calibration bias moved by that much)."""
    errors = total = 0
    hyps = []
    for lg, record in zip(logits, records):
        if shift:
            lg = torch.cat([lg[:, :1], lg[:, 1:] + shift], dim=1)
        hyp = render(greedy(lg, len(lg)), words)
        ref = spoken_words(record)
        errors += edit_distance([w.lower() for w in hyp], ref)
        total += len(ref)
        hyps.append(hyp)
    return errors / max(1, total), hyps


def calibrate(model, feats, records, words):
    """Moves the calibration bias to where the greedy decoding of the given clips makes the
    fewest word errors: CTC training leaves the blank a little too strong for the shortest
    words. Returns the shift and the word error rates before and after."""
    logits = frame_logits(model, feats)
    results = [(decoded_wer(logits, records, words, shift)[0], abs(shift), shift)
               for shift in np.arange(-1.0, 2.51, 0.25).tolist()]
    best = min(results)
    with torch.no_grad():
        model.bias.add_(best[2])
    return best[2], decoded_wer(logits, records, words)[0], best[0]


def read_clips(data_dir, split, word_index, skip, limit=None):
    """Records, features (half precision) and word labels of the clips of <split> from
    position skip on whose features exist (at most limit)."""
    records, feats = [], []
    with open(os.path.join(data_dir, split + ".jsonl")) as f:
        lines = f.readlines()[skip:]
    for line in lines[:limit]:
        if not line.endswith("\n"):
            break
        r = json.loads(line)
        path = os.path.join(data_dir, split, r["id"] + ".mel")
        if not os.path.exists(path):
            break
        records.append(r)
        feats.append(np.fromfile(path, dtype="<f4").reshape(-1, MEL_BINS).astype(np.float16))
    return records, feats, [[word_index[w] + 1 for w in r["words"]] for r in records]


def continue_training(data_dir, start_folder, folder, minutes, peak_lr=1e-3, channels=None, extra_layers=0):
    """Further training of an exported model set on another data set: the weights come back
    from <start_folder> (the encoder grown to <channels> channels and <extra_layers> more
    residual layers when asked), the first DEV_CLIPS clips of <data-dir>/train calibrate the
    bias, the rest are trained on with a fresh warm-up and cosine decay; clips whose
    features appear while training runs join at the next pass. Every CHECKPOINT_MINUTES the
    calibrated model is measured on the calibration clips and written to <folder> when it is
    the best so far, so a run cut short still leaves its best set."""
    n_threads = threads()
    random.seed(SEED + 3)
    np.random.seed(SEED + 3)
    torch.manual_seed(SEED + 3)
    rng = random.Random(SEED + 3)
    with open(os.path.join(HERE, "vocabulary.txt")) as f:
        words = [w.strip() for w in f if w.strip()]
    word_index = {w: i for i, w in enumerate(words)}
    model = load_exported(start_folder, words)
    if (channels and channels != CHANNELS) or extra_layers:
        model = grown(model, words, channels or CHANNELS, EXTRA_DILATIONS[:extra_layers], SEED + 4)
        print("encoder grown to %d channels, %d residual layers" % (CHANNELS, len(DILATIONS)), flush=True)
    model.train()
    h_records, h_feats, _ = load_split(data_dir, "heldout", word_index)
    d_records, d_feats, _ = read_clips(data_dir, "train", word_index, 0, DEV_CLIPS)
    if len(d_records) < DEV_CLIPS:
        sys.exit("the calibration clips (the first %d of %s/train) have no features yet" % (DEV_CLIPS, data_dir))

    best = {}

    def checkpoint(label):
        """Calibrates a copy of the model; keeps (and exports) it when it beats the best so far."""
        trial = Model(words, np.zeros(MEL_BINS), np.ones(MEL_BINS))
        trial.encoder.frozen_norms = model.encoder.frozen_norms
        trial.load_state_dict(model.state_dict())
        shift, before, after = calibrate(trial, d_feats, d_records, words)
        kept = not best or after < best["wer"]
        print("%s: calibration clips %.2f %%, %.2f %% with the bias moved by %+.2f%s" % (
            label, 100 * before, 100 * after, shift, " (best so far, written)" if kept else ""), flush=True)
        if kept:
            best.update(wer=after, state={k: v.clone() for k, v in trial.state_dict().items()}, label=label)
            export_models(trial, words, folder)
            torch.save(trial.state_dict(), os.path.join(data_dir, "model.pt"))

    # The start, calibrated, is what the continued training has to beat on the calibration clips.
    checkpoint("start")
    records, feats, labels = [], [], []
    opt = torch.optim.AdamW(model.parameters(), lr=peak_lr, weight_decay=1e-2)
    budget = minutes * 60
    start = time.time()
    next_checkpoint = CHECKPOINT_MINUTES * 60
    step = epoch = 0
    warmup = 20
    done = False
    while not done:
        epoch += 1
        more = read_clips(data_dir, "train", word_index, DEV_CLIPS + len(records))
        records += more[0]
        feats += more[1]
        labels += more[2]
        print("pass %d over %d clips (%.2f h)" % (epoch, len(feats), sum(len(f) for f in feats) / 360000),
              flush=True)
        for idx in batches([len(f) for f in feats], 6000, rng):
            elapsed = time.time() - start
            if elapsed > budget:
                done = True
                break
            if elapsed > next_checkpoint and budget - elapsed > CHECKPOINT_MINUTES * 30:
                checkpoint("after %d steps (%.0f min)" % (step, elapsed / 60))
                next_checkpoint += CHECKPOINT_MINUTES * 60
            frac = elapsed / budget
            lr = peak_lr * min(1.0, (step + 1) / warmup) * (0.02 + 0.98 * 0.5 * (1 + math.cos(math.pi * frac)))
            for g in opt.param_groups:
                g["lr"] = lr
            x, m = collate(idx, feats, True, rng)
            logits, _, om = model(x, m)
            out_len = om.sum(1).long()
            target = torch.tensor(sum((labels[i] for i in idx), []), dtype=torch.long)
            target_len = torch.tensor([len(labels[i]) for i in idx], dtype=torch.long)
            lp = F.log_softmax(logits, -1).transpose(0, 1)
            loss = F.ctc_loss(lp, target, out_len, target_len, blank=0, zero_infinity=True)
            opt.zero_grad()
            loss.backward()
            nn.utils.clip_grad_norm_(model.parameters(), 5.0)
            opt.step()
            step += 1
            if step % 25 == 0:
                print("pass %d step %d  %.0f s  lr %.2e  ctc %.3f  scale %.1f bias %.2f" % (
                    epoch, step, time.time() - start, lr, loss.item(), model.scale.item(), model.bias.item()),
                    flush=True)
    train_seconds = time.time() - start
    checkpoint("end (%d steps)" % step)
    print("kept: %s" % best["label"], flush=True)
    model.load_state_dict(best["state"])
    wer, hyps = decoded_wer(frame_logits(model, h_feats), h_records, words)
    with open(os.path.join(data_dir, "python-heldout.json"), "w") as f:
        json.dump({r["id"]: h for r, h in zip(h_records, hyps)}, f)
    print("continued %d steps (%d passes over up to %d clips) in %.1f min on %d threads" % (
        step, epoch, len(feats), train_seconds / 60, n_threads))
    print("Python held-out WER: %.2f %% over %d clips" % (100 * wer, len(h_feats)), flush=True)


def main():
    if len(sys.argv) >= 3 and sys.argv[1] == "tables":
        write_tables(sys.argv[2])
    elif len(sys.argv) == 4 and sys.argv[1] == "punct":
        train_punct(sys.argv[2], sys.argv[3])
    elif len(sys.argv) in (4, 5) and sys.argv[1] == "train":
        train(sys.argv[2], sys.argv[3], float(sys.argv[4]) if len(sys.argv) == 5 else 40.0)
    elif 5 <= len(sys.argv) <= 9 and sys.argv[1] == "continue":
        continue_training(sys.argv[2], sys.argv[3], sys.argv[4], float(sys.argv[5]) if len(sys.argv) >= 6 else 40.0,
                          float(sys.argv[6]) if len(sys.argv) >= 7 else 1e-3,
                          int(sys.argv[7]) if len(sys.argv) >= 8 else None,
                          int(sys.argv[8]) if len(sys.argv) >= 9 else 0)
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main()
