#!/usr/bin/env python3
"""Writes the seed corpus of the fuzz targets into fuzz/corpus/<target>/.

Small valid inputs of every kind, and the hostile inputs that once broke the engine
(numbers beyond a double, sample rates of 1 Hz and 1.76 GHz, text that is not valid
UTF-8, a speech model that is only its magic). Deterministic: running it again writes
the same files. Encoded audio is made with ffmpeg; ONNX seeds need python3-onnx.
Inputs that fuzzing finds are added to the same folders by hand and kept.
"""
import json
import math
import os
import struct
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
CORPUS = os.path.join(HERE, "corpus")


def write(target, name, data):
    folder = os.path.join(CORPUS, target)
    os.makedirs(folder, exist_ok=True)
    if isinstance(data, str):
        data = data.encode("utf-8")
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


# --- audio_decoder: first byte picks the extension (order of kExtensions) ---
EXTENSIONS = [".wav", ".mp3", ".m4a", ".mp4", ".mov", ".flac", ".ogg", ".aiff", ".caf", ".au", ".webm", ".mkv",
              ".aac", ".opus"]


def pcm_wav(rate, frames, channels=1, data_size=None):
    samples = b"".join(struct.pack("<h", int(8000 * math.sin(0.05 * i))) for i in range(frames * channels))
    size = len(samples) if data_size is None else data_size
    header = b"RIFF" + struct.pack("<I", (36 + size) & 0xFFFFFFFF) + b"WAVEfmt " + struct.pack(
        "<IHHIIHH", 16, 1, channels, rate, (rate * 2 * channels) & 0xFFFFFFFF, 2 * channels, 16)
    return header + b"data" + struct.pack("<I", size) + samples


def audio():
    def seed(name, extension, data):
        write("audio_decoder", name, bytes([EXTENSIONS.index(extension)]) + data)

    seed("wav_16k_mono", ".wav", pcm_wav(16000, 800))
    seed("wav_44k_stereo", ".wav", pcm_wav(44100, 1000, channels=2))
    seed("wav_declares_1_hz", ".wav", pcm_wav(1, 1000))
    seed("wav_declares_1760_mhz", ".wav", pcm_wav(1760000000, 1000))
    seed("wav_declares_999_hz", ".wav", pcm_wav(999, 1000))
    seed("wav_data_size_4_gb", ".wav", pcm_wav(16000, 200, data_size=0xFFFFFFF0))
    seed("wav_header_only", ".wav", pcm_wav(16000, 0))
    seed("wav_named_mp4", ".mp4", pcm_wav(8000, 400))
    with tempfile.TemporaryDirectory() as tmp:
        for ext, codec in [(".mp3", ["-c:a", "libmp3lame", "-b:a", "32k"]), (".m4a", ["-c:a", "aac", "-b:a", "32k"]),
                           (".flac", []), (".ogg", ["-c:a", "libvorbis"]), (".opus", ["-c:a", "libopus"]),
                           (".aiff", []), (".au", []), (".caf", []), (".mkv", ["-c:a", "pcm_s16le"])]:
            out = os.path.join(tmp, "seed" + ext)
            subprocess.run(["ffmpeg", "-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i",
                            "sine=f=440:sample_rate=16000:d=0.2", "-fflags", "+bitexact", "-flags:a", "+bitexact",
                            "-map_metadata", "-1"] + codec + [out], check=True)
            with open(out, "rb") as f:
                data = f.read()
            seed("tone" + ext.replace(".", "_"), ext, data)
            seed("tone" + ext.replace(".", "_") + "_cut", ext, data[: len(data) // 2])
    for ext in EXTENSIONS:
        seed("empty" + ext.replace(".", "_"), ext, b"")


# --- json_readers: first byte picks the reader (order of the switch in json_readers.cpp) ---
MANIFEST, RESULT, OPTIONS, VOCABULARY, CANDIDATE, SUSPICION, CONTEXT, SNAPSHOT = range(8)
READER_DESCRIPTION, WORD_LIST, CASE_OVERRIDES = 8, 18, 28  # 8 + 10 * (0, 1, 2)


def records():
    def seed(name, reader, text):
        write("json_readers", name, bytes([reader]) + text.encode("utf-8"))

    manifest = {"version": 5, "total_bytes": 10,
                "files": [{"sha256": "a" * 64, "url": "v5/x.bin", "size": 10, "path": "x.bin"}]}
    seed("manifest", MANIFEST, json.dumps(manifest))
    seed("manifest_version_1e400", MANIFEST, '{"version":1e400,"total_bytes":0,"files":[]}')
    seed("manifest_size_beyond_64_bits", MANIFEST,
         '{"version":5,"total_bytes":0,"files":[{"sha256":"","url":"u","size":18446744073709551616,"path":"p"}]}')
    word = {"text": "API", "rawText": "API", "start": 0.0, "end": 0.5, "confidence": 0.9, "source": "EG2+JA"}
    telemetry = {"audioDurationSeconds": 1.0, "totalProcessingMs": 10.0, "logMelMs": 1.0, "encoderL11Ms": 1.0,
                 "readerP6Ms": 1.0, "scorerAndRerankMs": 1.0, "japaneseDecodeMs": 1.0, "postProcessingMs": 1.0,
                 "windowCount": 1, "activeFrameCount": 25, "pauseSegmentCount": 0,
                 "detectedEnglishEmbeddingTerms": ["API"], "appliedRuleAnnotations": []}
    result = {"text": "今日はAPIの話。", "rawText": "今日はAPIの話", "eg2DirectText": "API", "words": [word],
              "pauseTimestamps": [0.5], "telemetry": telemetry, "engineMode": "hybrid_ja_en"}
    seed("result", RESULT, json.dumps(result, ensure_ascii=False))
    seed("result_window_count_beyond_64_bits", RESULT,
         json.dumps(result, ensure_ascii=False).replace('"windowCount": 1', '"windowCount": 18446744073709551615'))
    seed("result_confidence_beyond_float", RESULT,
         json.dumps(result, ensure_ascii=False).replace('"confidence": 0.9', '"confidence": 1e39'))
    seed("result_pause_1e400", RESULT, json.dumps(result, ensure_ascii=False).replace("[0.5]", "[1e400]"))
    seed("options", OPTIONS, '{"removeFillers":false,"punctuationStyle":"academic","punctuationDensity":"dense"}')
    seed("vocabulary", VOCABULARY, json.dumps(
        {"id": "6F9619FF-8B86-4D01-B42D-00CF4FC964FF", "reading": "ぺろら", "surface": "Pelora", "aliases": ["ペロラ"],
         "contextHints": [], "enabled": True}, ensure_ascii=False))
    seed("candidate", CANDIDATE, json.dumps(
        {"id": "candidate_1", "originalSpan": "機械", "replacementSpan": "機会", "rewrittenTranscript": "機会",
         "source": "MIRK", "phoneticDistance": 0.1, "confidence": 1e308}, ensure_ascii=False))
    seed("suspicion", SUSPICION, '{"span":"機械","leftContext":"は","confidence":0.7}')
    seed("context", CONTEXT, '{"appName":"Editor","preText":"今日は","postText":"です"}')
    seed("snapshot", SNAPSHOT, '{"processIdentifier":4294967296,"appName":"x"}')
    seed("reader_description", READER_DESCRIPTION, '{"scale":39.85,"bias":null}')
    seed("reader_description_scale_beyond_float", READER_DESCRIPTION, '{"scale":1e39}')
    seed("reader_description_bias_1e400", READER_DESCRIPTION, '{"bias":-1e400}')
    seed("word_list", WORD_LIST, '["<rep>","api","swift"]')
    seed("word_list_not_strings", WORD_LIST, "[1,2]")
    seed("case_overrides", CASE_OVERRIDES, '{"api":2,"swift":1,"x":255}')
    seed("case_overrides_beyond_64_bits", CASE_OVERRIDES, '{"a":18446744073709551615}')
    seed("nested_deeply", RESULT, "[" * 5000 + "]" * 5000)


# --- onnx_signature ---
def onnx_models():
    try:
        import onnx
        from onnx import helper, TensorProto
    except ImportError:
        sys.exit("python3-onnx is needed for the ONNX seeds")
    x = helper.make_tensor_value_info("x", TensorProto.FLOAT, [1, "frames", 4])
    y = helper.make_tensor_value_info("y", TensorProto.FLOAT16, [1, 4])
    weight = helper.make_tensor("w", TensorProto.FLOAT, [4, 4], [0.5] * 16)
    graph = helper.make_graph([helper.make_node("MatMul", ["x", "w"], ["y"])], "g", [x], [y], initializer=[weight])
    model = helper.make_model(graph, opset_imports=[helper.make_opsetid("", 13)], producer_name="seed")
    data = model.SerializeToString()
    write("onnx_signature", "model", data)
    write("onnx_signature", "model_cut_in_half", data[: len(data) // 2])
    write("onnx_signature", "length_beyond_the_file", b"\x3a\xff\xff\xff\xff\x0f")
    write("onnx_signature", "varint_of_eleven_bytes", b"\x08" + b"\xff" * 10 + b"\x01")


# --- speech_model_check ---
def speech_models():
    magic = struct.pack("<I", 0x67676D6C)
    write("speech_model_check", "magic_then_zeros_2052_bytes", magic + bytes(2048))
    # n_vocab, n_audio_ctx, n_audio_state, n_audio_head, n_audio_layer, n_text_ctx, n_text_state,
    # n_text_head, n_text_layer, n_mels, ftype
    header = [51865, 1500, 64, 1, 1, 448, 64, 1, 1, 80, 1]
    write("speech_model_check", "header_of_a_tiny_model", magic + struct.pack("<11i", *header))
    write("speech_model_check", "type_99", magic + struct.pack("<11i", *(header[:10] + [99])))
    write("speech_model_check", "negative_sizes", magic + struct.pack("<11i", *([-1] * 11)))
    write("speech_model_check", "huge_vocabulary", magic + struct.pack("<11i", *([0x7FFFFFFF] + header[1:])))


# --- japanese_postprocessor and homophone_reranker: text that is not valid UTF-8 ---
BAD_TEXTS = [b"\xe4\xbb\x8a\xe6\x97\xa5\xe3\x81\xaf\xff\xfe\xe3\x81\xa7\xe3\x81\x99",  # 今日は\xFF\xFEです
             b"\xed\xa0\x80\xe3\x81\xbe\xe3\x82\x8b",  # \xED\xA0\x80まる
             b"\xc0\xaf" + "二十三人".encode(), b"\x8c" + "三三".encode(), b"\xff\xff\xff" + "あい三円です".encode()]
GOOD_TEXTS = ["えーと今日は三時に会議があります、まる", "きかいがくしゅうのはなしをしました。かいぎょう",
              "APIとSwiftのコードを書きました"]


def texts():
    for i, text in enumerate(BAD_TEXTS):
        write("japanese_postprocessor", "invalid_utf8_%d_all_options" % i, b"\xff\x00\x00" + text)
        write("japanese_postprocessor", "invalid_utf8_%d_ascii_dense" % i, b"\x7f\x0a\x02" + text)
        write("homophone_reranker", "invalid_utf8_%d" % i, text + b"\0" + text + b"\0" + text + b"\0\0\0API\0" + text)
    for i, text in enumerate(GOOD_TEXTS):
        write("japanese_postprocessor", "text_%d" % i, b"\x7f\x00\x01" + text.encode())
        write("homophone_reranker", "text_%d" % i,
              (text + "\0Pelora\0ぺろら\0ペロラ\0会議\0Swift\0前の文\0後の文").encode())
    write("japanese_postprocessor", "kanji_numbers", b"\xff\x00\x00" + ("一" * 300).encode())


# --- srt_times: doubles, little-endian, start and end in turn, then one byte per word ---
def times():
    values = [0.0, -0.0, float("nan"), float("inf"), float("-inf"), 1e300, 1e12 + 1, 3599.9995, 0.29,
              sys.float_info.max, 5e-324, -1.5, 86400.0 * 365 * 1000]
    data = b""
    for i in range(0, len(values) - 1, 2):
        data += struct.pack("<dd", values[i], values[i + 1]) + bytes([i % 2])
    write("srt_times", "edge_values", data)
    write("srt_times", "one_word", struct.pack("<dd", 1.25, 2.5) + b"\x01")


# --- decision_replies: reply bodies ---
def replies():
    write("decision_replies", "correction_chosen",
          '{"answers":{"correction":{"choice":"candidate_1","confidence":0.95}}}')
    write("decision_replies", "correction_by_probabilities",
          '{"answers":{"correction":{"choice":"candidate_2","probabilities":{"candidate_2":0.9}}}}')
    write("decision_replies", "unknown_choice", '{"answers":{"correction":{"choice":"candidate_9","confidence":1}}}')
    write("decision_replies", "spans",
          '{"answers":{"most_suspicious":{"choice":"span_0","confidence":0.9},"span_0":{"noul":0.8},'
          '"span_1":{"noul":1e308}}}')
    write("decision_replies", "confidence_1e400", '{"answers":{"correction":{"choice":"candidate_1","confidence":1e400}}}')
    write("decision_replies", "not_json", "<html>busy</html>")
    write("decision_replies", "empty", "")
    write("decision_replies", "nested_deeply", '{"answers":' + "[" * 5000 + "]" * 5000 + "}")


if __name__ == "__main__":
    audio()
    records()
    onnx_models()
    speech_models()
    texts()
    times()
    replies()
