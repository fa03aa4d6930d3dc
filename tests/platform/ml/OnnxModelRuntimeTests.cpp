#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "platform/ml/Float16.h"
#include "platform/ml/ModelError.h"
#include "platform/ml/ModelRuntime.h"
#include "platform/ml/OnnxModelSignature.h"
#include "tests/support/ModelFixtures.h"
#include "tests/support/TempDir.h"

namespace pelora::ml {
namespace {

using pelora::testing::TempDir;

class OnnxModelRuntimeTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = new TempDir();
        pelora::testing::makeMLProbeModels(dir_->path() / "probes");
        pelora::testing::makeEG2ModelFolder(dir_->path() / "eg2");
    }
    static void TearDownTestSuite() {
        delete dir_;
        dir_ = nullptr;
    }
    static std::filesystem::path probe(const std::string& name) { return dir_->path() / "probes" / name; }
    static std::filesystem::path eg2(const std::string& name) { return dir_->path() / "eg2" / name; }
    static std::unique_ptr<Model> load(const std::filesystem::path& folder) {
        return ModelRuntime::shared().loadModel(folder, ComputeUnits::cpuOnly);
    }

    static TempDir* dir_;
};
TempDir* OnnxModelRuntimeTest::dir_ = nullptr;

TEST_F(OnnxModelRuntimeTest, TopKRanksDescendingWithTiesInIndexOrderAndNaNLast) {
    auto model = load(probe("topk.mlmodelc"));
    MultiArray x({2, 6}, ElementType::float32);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float rows[2][6] = {{1, 5, 3, 5, 2, 5}, {nan, -1, nan, -2, -3, -4}};
    for (int r = 0; r < 2; ++r)
        for (int c = 0; c < 6; ++c) x.floats()[r * 6 + c] = rows[r][c];

    Prediction p = model->prediction({{"x", &x}});
    const MultiArray* values = p.featureValue("values");
    const MultiArray* indices = p.featureValue("indices");
    ASSERT_NE(values, nullptr);
    ASSERT_NE(indices, nullptr);
    EXPECT_EQ(values->dataType(), ElementType::float32);
    ASSERT_EQ(indices->dataType(), ElementType::int32);
    EXPECT_EQ(indices->shape(), (std::vector<std::int64_t>{2, 3}));
    const std::int32_t expected[6] = {1, 3, 5, 1, 3, 4};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(indices->ints()[i], expected[i]) << "position " << i;
    EXPECT_EQ(values->floats()[0], 5.0f);
    EXPECT_EQ(values->floats()[3], -1.0f);
}

TEST_F(OnnxModelRuntimeTest, OutputsComeInTheDeclaredElementTypesAndHalfInputsAreAccepted) {
    auto model = load(probe("types.mlmodelc"));
    MultiArray h({1, 2, 3}, ElementType::float16);
    const float in[6] = {0.5f, -1.25f, 3.0f, 1000.0f, 2.75f, -0.0f};
    for (int i = 0; i < 6; ++i) h.halves()[i] = floatToHalf(in[i]);

    Prediction p = model->prediction({{"h", &h}});
    const MultiArray* half = p.featureValue("half");
    const MultiArray* single = p.featureValue("single");
    const MultiArray* whole = p.featureValue("whole");
    ASSERT_TRUE(half && single && whole);
    ASSERT_EQ(half->dataType(), ElementType::float16);
    ASSERT_EQ(single->dataType(), ElementType::float32);
    ASSERT_EQ(whole->dataType(), ElementType::int32);
    EXPECT_EQ(half->shape(), (std::vector<std::int64_t>{1, 2, 3}));
    EXPECT_EQ(half->strides(), (std::vector<std::int64_t>{6, 3, 1}));
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(halfToFloat(half->halves()[i]), 2 * in[i]) << "element " << i;
        EXPECT_EQ(single->floats()[i], 2 * in[i]) << "element " << i;
        EXPECT_EQ(whole->ints()[i], static_cast<std::int32_t>(std::nearbyint(2 * in[i]))) << "element " << i;
    }
    EXPECT_EQ(p.featureValue("nothing"), nullptr);
}

TEST_F(OnnxModelRuntimeTest, StridedInputsGiveTheSameResultAsContiguousOnes) {
    auto model = load(probe("types.mlmodelc"));
    MultiArray contiguous({1, 2, 3}, ElementType::float16);
    MultiArray padded({1, 2, 3}, {16, 8, 2}, ElementType::float16);
    for (int r = 0; r < 2; ++r) {
        for (int c = 0; c < 3; ++c) {
            std::uint16_t v = floatToHalf(static_cast<float>(r * 10 + c));
            contiguous.halves()[r * 3 + c] = v;
            padded.halves()[r * 8 + c * 2] = v;
            if (c < 2) padded.halves()[r * 8 + c * 2 + 1] = floatToHalf(99.0f);  // gaps must not be read
        }
    }
    auto a = model->prediction({{"h", &contiguous}});
    auto b = model->prediction({{"h", &padded}});
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(a.featureValue("single")->floats()[i], b.featureValue("single")->floats()[i]) << "element " << i;
    }
}

TEST_F(OnnxModelRuntimeTest, RunsTheSyntheticEG2ModelsWithTheirDeclaredInterfaces) {
    auto encoder = load(eg2("eg2_audio_l11.mlmodelc"));
    MultiArray features({1, 2000, 128}, ElementType::float32);
    MultiArray mask({1, 2000}, ElementType::float32);
    for (int i = 0; i < 2000 * 128; ++i) features.floats()[i] = -6.9f;
    for (int f = 0; f < 8; ++f) mask.floats()[f] = 1.0f;
    features.floats()[8] = 4.0f;  // frame 0, band 8
    Prediction l11 = encoder->prediction({{"input_features", &features}, {"feature_mask", &mask}});
    const MultiArray* hidden = l11.featureValue("l11");
    ASSERT_NE(hidden, nullptr);
    EXPECT_EQ(hidden->dataType(), ElementType::float16);
    EXPECT_EQ(hidden->count(), 512000);
    EXPECT_NEAR(hidden->floatValue(8), (4.0f + 3 * -6.9f) / 4, 0.01);
    EXPECT_EQ(hidden->floatValue(1023), 4.0f);         // frame 0 holds four masked-in mel frames
    EXPECT_EQ(hidden->floatValue(2 * 1024 + 1023), 0.0f);  // frame 2 holds none

    auto scorer = load(eg2("scorer_blk_d128_k16_b4_t500.mlmodelc"));
    MultiArray vec({1, 500, 768}, ElementType::float16);
    vec.halves()[768 + 2] = floatToHalf(3.0f);  // frame 1 leans to "api" (row 3, block 0)
    Prediction blocks = scorer->prediction({{"vec", &vec}});
    const MultiArray* bidx = blocks.featureValue("bidx");
    ASSERT_NE(bidx, nullptr);
    EXPECT_EQ(bidx->dataType(), ElementType::int32);
    EXPECT_EQ(bidx->shape(), (std::vector<std::int64_t>{1, 500, 16}));
    EXPECT_EQ(bidx->ints()[16], 0);
    EXPECT_EQ(bidx->ints()[17], 1);
}

TEST_F(OnnxModelRuntimeTest, LoadFailuresNameTheFolderAndTheFault) {
    TempDir scratch;
    std::filesystem::create_directories(scratch / "empty.mlmodelc");
    std::filesystem::create_directories(scratch / "garbage.mlmodelc");
    pelora::testing::writeFile(scratch / "garbage.mlmodelc" / "model.onnx", "not a model at all");
    pelora::testing::writeFile(scratch / "plain.mlmodelc", "a file, not a folder");
    // A real model cut in half, as an interrupted copy leaves it.
    const std::string whole = pelora::testing::readFile(eg2("reader_P6.mlmodelc") / "model.onnx");
    std::filesystem::create_directories(scratch / "cut.mlmodelc");
    pelora::testing::writeFile(scratch / "cut.mlmodelc" / "model.onnx", whole.substr(0, whole.size() / 2));
    struct Case {
        std::filesystem::path folder;
        std::string expected;
    };
    const Case cases[] = {
        {scratch / "missing.mlmodelc", "not a compiled model folder"},
        {scratch / "plain.mlmodelc", "not a compiled model folder"},
        {scratch / "empty.mlmodelc", "model.onnx: cannot be read"},
        {scratch / "garbage.mlmodelc", "garbage.mlmodelc/model.onnx: not a valid ONNX model"},
        {scratch / "cut.mlmodelc", "cut.mlmodelc/model.onnx: not a valid ONNX model"},
        {probe("int64_output.mlmodelc"), "output \"y\" has unsupported element type 7"},
    };
    for (const Case& c : cases) {
        try {
            load(c.folder);
            ADD_FAILURE() << "loaded " << c.folder;
        } catch (const ModelError& e) {
            EXPECT_NE(std::string(e.what()).find(c.expected), std::string::npos) << c.folder << ": " << e.what();
        }
    }
}

TEST_F(OnnxModelRuntimeTest, AMissingInputFailsThePrediction) {
    auto model = load(eg2("reader_P6.mlmodelc"));
    MultiArray l11({1, 500, 1024}, ElementType::float32);
    try {
        model->prediction({{"l11", &l11}});
        ADD_FAILURE() << "predicted without a mask";
    } catch (const ModelError& e) {
        EXPECT_NE(std::string(e.what()).find("missing input \"mask\""), std::string::npos) << e.what();
    }
}

TEST_F(OnnxModelRuntimeTest, SignatureListsGraphInputsAndOutputsButNotWeights) {
    auto read = [](const std::filesystem::path& file) { return pelora::testing::readFile(file); };
    auto reader = OnnxModelSignature::parse(read(eg2("reader_P6.mlmodelc") / "model.onnx"));
    ASSERT_EQ(reader.inputs.size(), 2u);
    EXPECT_EQ(reader.inputs[0].name, "l11");
    EXPECT_EQ(reader.inputs[0].elementType, onnx_type::float32);
    EXPECT_EQ(reader.inputs[1].name, "mask");
    ASSERT_EQ(reader.outputs.size(), 2u);
    EXPECT_EQ(reader.outputs[0].name, "vec");
    EXPECT_EQ(reader.outputs[0].elementType, onnx_type::float16);
    ASSERT_EQ(reader.outputs[0].shape.size(), 3u);
    EXPECT_EQ(reader.outputs[0].shape[2], 768);

    auto legacy = OnnxModelSignature::parse(read(probe("weights_as_inputs.mlmodelc") / "model.onnx"));
    ASSERT_EQ(legacy.inputs.size(), 1u);
    EXPECT_EQ(legacy.inputs[0].name, "x");

    EXPECT_THROW(OnnxModelSignature::parse("\x0a\xff"), ModelError);
    EXPECT_THROW(OnnxModelSignature::parse(""), ModelError);
}

}  // namespace
}  // namespace pelora::ml
