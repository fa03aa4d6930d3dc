#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <thread>
#include <vector>

#include "engine/recognition/Rerank.h"
#include "platform/ml/Float16.h"

namespace pelora {
namespace {

using ml::ElementType;
using ml::MultiArray;

constexpr int kDim = 768;

// A word table whose row r has the value `r + 1` in dimension r % 768 and 0 elsewhere,
// unless rows are set by hand.
struct Table {
    std::vector<std::uint16_t> values;
    std::int64_t rows;
    explicit Table(std::int64_t rows) : values(static_cast<std::size_t>(rows * kDim), 0), rows(rows) {}
    void set(std::int64_t row, int dim, float v) { values[static_cast<std::size_t>(row * kDim + dim)] = ml::floatToHalf(v); }
};

MultiArray vectors(std::int64_t frames) { return MultiArray({1, frames, kDim}, ElementType::float16); }
MultiArray blocks(std::int64_t frames) { return MultiArray({1, frames, 16}, ElementType::int32); }
void setVec(MultiArray& vec, std::int64_t at, float v) { vec.halves()[at] = ml::floatToHalf(v); }

TEST(Rerank, FrameCountsAreClampedAndEmptyInputsGiveNothing) {
    Table table(64);
    MultiArray vec = vectors(500);
    MultiArray bidx = blocks(500);
    struct Case {
        std::int64_t wordCount;
        std::int64_t frameCount;
        std::size_t results;
    };
    const Case cases[] = {{64, 0, 0}, {64, -5, 0}, {64, 1, 1}, {64, 499, 499}, {64, 600, 500}, {0, 10, 0}};
    for (const Case& c : cases) {
        auto results = Rerank::run(table.values.data(), c.wordCount, c.frameCount, vec, bidx);
        EXPECT_EQ(results.size(), c.results) << "words " << c.wordCount << ", frames " << c.frameCount;
    }
}

TEST(Rerank, BlockIdsSelectFourRowsClampedToTheTable) {
    Table table(10);
    for (std::int64_t r = 0; r < 10; ++r) table.set(r, static_cast<int>(r), 1.0f);
    struct Case {
        std::int32_t block;
        int preferredDim;  // the query points at this row's dimension
        std::int64_t expectedRow;
    };
    const Case cases[] = {
        {-3, 2, 2},                                       // negative: rows 0 to 3
        {std::numeric_limits<std::int32_t>::min(), 3, 3},  // no overflow on the way to row 0
        {1, 5, 5},                                        // rows 4 to 7
        {2, 9, 9},                                        // rows 8, 9, then 9 again
        {2, 8, 8},
        {std::numeric_limits<std::int32_t>::max(), 9, 9},  // far past the end: the last row
        {2, 4, 8},  // row 4 is not among the candidates: all dots 0, the first slot wins
    };
    for (const Case& c : cases) {
        MultiArray vec = vectors(1);
        setVec(vec, c.preferredDim, 2.0f);
        MultiArray bidx = blocks(1);
        for (int k = 0; k < 16; ++k) bidx.ints()[k] = c.block;
        auto results = Rerank::run(table.values.data(), 10, 1, vec, bidx);
        ASSERT_EQ(results.size(), 1u) << "block " << c.block;
        EXPECT_EQ(results[0].wordIndex, c.expectedRow) << "block " << c.block;
    }
}

TEST(Rerank, TiesGoToTheEarlierCandidateSlotAndNaNNeverWins) {
    Table table(16);
    table.set(4, 0, 3.0f);   // block 1, first row
    table.set(9, 0, 3.0f);   // block 2, second row: same dot as row 4
    table.set(13, 0, 2.0f);  // block 3
    MultiArray vec = vectors(3);
    setVec(vec, 0, 1.0f);                                        // frame 0
    setVec(vec, kDim + 0, 1.0f);                                 // frame 1
    setVec(vec, 2 * kDim + 0, std::numeric_limits<float>::quiet_NaN());  // frame 2: every dot is NaN
    MultiArray bidx = blocks(3);
    const std::int32_t order0[4] = {2, 1, 3, 0};  // row 9's block comes first
    const std::int32_t order1[4] = {3, 1, 1, 2};  // row 4 appears twice; row 9 later
    for (int k = 0; k < 16; ++k) {
        bidx.ints()[k] = order0[k % 4];
        bidx.ints()[16 + k] = order1[k % 4];
        bidx.ints()[32 + k] = 3;
    }
    auto results = Rerank::run(table.values.data(), 16, 3, vec, bidx);
    ASSERT_EQ(results.size(), 3u);
    EXPECT_EQ(results[0].wordIndex, 9);
    EXPECT_EQ(results[0].maxDot, 3.0f);
    EXPECT_EQ(results[1].wordIndex, 4);
    EXPECT_EQ(results[1].maxDot, 3.0f);
    EXPECT_EQ(results[2].wordIndex, 12);  // the row in slot 0 (block 3, first row)
    EXPECT_EQ(results[2].maxDot, -std::numeric_limits<float>::infinity());
}

TEST(Rerank, StridesComeFromTheArraysWithTheirFallbacks) {
    Table table(8);
    table.set(5, 1, 1.0f);
    struct Case {
        const char* name;
        MultiArray vec;
        MultiArray bidx;
        std::int64_t vs, bs, ks;
    };
    std::vector<Case> cases;
    cases.push_back({"one-dimensional arrays", MultiArray({2 * kDim}, ElementType::float16),
                     MultiArray({32}, ElementType::int32), kDim, 16, 1});
    cases.push_back({"padded rows", MultiArray({1, 2, 1000}, {2000, 1000, 1}, ElementType::float16),
                     MultiArray({1, 2, 40}, {80, 40, 2}, ElementType::int32), 1000, 40, 2});
    cases.push_back({"zero strides count as one", MultiArray({1, 2, kDim}, {0, 0, 1}, ElementType::float16),
                     MultiArray({1, 2, 16}, {0, 0, 0}, ElementType::int32), 1, 1, 1});
    for (Case& c : cases) {
        // Frame 1 asks for block 1 (rows 4 to 7) and prefers dimension 1 (row 5).
        for (int k = 0; k < 16; ++k) c.bidx.ints()[1 * c.bs + k * c.ks] = 1;
        setVec(c.vec, 1 * c.vs + 1, 1.0f);
        auto results = Rerank::run(table.values.data(), 8, 2, c.vec, c.bidx);
        ASSERT_EQ(results.size(), 2u) << c.name;
        EXPECT_EQ(results[1].wordIndex, 5) << c.name;
        EXPECT_EQ(results[1].maxDot, 1.0f) << c.name;
    }
}

TEST(Rerank, ShortOrMistypedArraysGiveNoResultsRatherThanPartialOnes) {
    Table table(64);
    struct Case {
        const char* name;
        MultiArray vec;
        MultiArray bidx;
    };
    std::vector<Case> cases;
    cases.push_back({"vec one element short", MultiArray({10 * kDim - 1}, ElementType::float16), blocks(10)});
    cases.push_back({"bidx one element short", vectors(10), MultiArray({159}, ElementType::int32)});
    cases.push_back({"bidx block stride past the end", vectors(10),
                     MultiArray({1, 10, 16}, {160, 16, 2}, ElementType::int32)});
    cases.push_back({"vec in float32", MultiArray({1, 10, kDim}, ElementType::float32), blocks(10)});
    cases.push_back({"bidx in float16", vectors(10), MultiArray({1, 10, 32}, ElementType::float16)});
    for (const Case& c : cases) {
        EXPECT_TRUE(Rerank::run(table.values.data(), 64, 10, c.vec, c.bidx).empty()) << c.name;
    }
}

TEST(Rerank, EveryFrameMatchesABruteForceSearchOverItsCandidates) {
    // Small integer values keep every dot product exact, so results compare exactly.
    const std::int64_t words = 1000;
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> value(-2, 2);
    std::uniform_int_distribution<int> blockId(-2, static_cast<int>(words / 4 + 3));
    Table table(words);
    for (auto& v : table.values) v = ml::floatToHalf(static_cast<float>(value(rng)));
    MultiArray vec = vectors(500);
    MultiArray bidx = blocks(500);
    for (std::int64_t i = 0; i < vec.count(); ++i) vec.halves()[i] = ml::floatToHalf(static_cast<float>(value(rng)));
    for (std::int64_t i = 0; i < bidx.count(); ++i) bidx.ints()[i] = blockId(rng);

    auto results = Rerank::run(table.values.data(), words, 500, vec, bidx);
    ASSERT_EQ(results.size(), 500u);
    std::vector<float> tableF(table.values.size()), vecF(static_cast<std::size_t>(vec.count()));
    ml::convertHalfToFloat(table.values.data(), tableF.data(), tableF.size());
    ml::convertHalfToFloat(vec.halves(), vecF.data(), vecF.size());
    for (std::int64_t f = 0; f < 500; ++f) {
        double best = -INFINITY;
        std::int64_t bestRow = 0;
        for (int k = 0; k < 16; ++k) {
            std::int64_t b = bidx.ints()[f * 16 + k];
            for (int j = 0; j < 4; ++j) {
                std::int64_t row = std::clamp<std::int64_t>((b >= 0 ? b * 4 : 0) + j, 0, words - 1);
                double dot = 0;
                for (int d = 0; d < kDim; ++d) {
                    dot += static_cast<double>(tableF[row * kDim + d]) * vecF[f * kDim + d];
                }
                if (dot > best) {
                    best = dot;
                    bestRow = row;
                }
            }
        }
        ASSERT_EQ(results[f].wordIndex, bestRow) << "frame " << f;
        ASSERT_EQ(results[f].maxDot, static_cast<float>(best)) << "frame " << f;
    }
}

TEST(Rerank, CallersOnSeveralThreadsShareTheWorkersAndGetTheSameResults) {
    const std::int64_t words = 4000;
    std::mt19937 rng(11);
    std::uniform_int_distribution<int> value(-3, 3);
    std::uniform_int_distribution<int> blockId(0, static_cast<int>(words / 4 - 1));
    Table table(words);
    for (auto& v : table.values) v = ml::floatToHalf(static_cast<float>(value(rng)));
    MultiArray vec = vectors(500);
    MultiArray bidx = blocks(500);
    for (std::int64_t i = 0; i < vec.count(); ++i) vec.halves()[i] = ml::floatToHalf(static_cast<float>(value(rng)));
    for (std::int64_t i = 0; i < bidx.count(); ++i) bidx.ints()[i] = blockId(rng);

    const auto expected = Rerank::run(table.values.data(), words, 500, vec, bidx);
    std::vector<std::vector<Rerank::Result>> got(4);
    std::vector<std::thread> callers;
    for (auto& out : got) {
        callers.emplace_back([&] {
            for (int round = 0; round < 5; ++round) out = Rerank::run(table.values.data(), words, 500, vec, bidx);
        });
    }
    for (auto& t : callers) t.join();
    for (const auto& out : got) {
        ASSERT_EQ(out.size(), expected.size());
        for (std::size_t f = 0; f < out.size(); ++f) {
            ASSERT_EQ(out[f].wordIndex, expected[f].wordIndex) << "frame " << f;
            ASSERT_EQ(out[f].maxDot, expected[f].maxDot) << "frame " << f;
        }
    }
}

}  // namespace
}  // namespace pelora
