#include "platform/speech/ResultSequence.h"

#include <chrono>
#include <future>
#include <stdexcept>
#include <thread>

#include <gtest/gtest.h>

namespace pelora::speech {
namespace {

SpeechTranscriptionResult resultWithText(const std::string& text) {
    SpeechTranscriptionResult result;
    result.runs = {{text, std::nullopt, std::nullopt}};
    return result;
}

TEST(ResultSequence, DeliversResultsInOrderThenEnds) {
    ResultSequence sequence;
    sequence.yield(resultWithText("一"));
    sequence.yield(resultWithText("二"));
    sequence.finish();
    sequence.yield(resultWithText("late"));  // after the end: dropped

    EXPECT_EQ(sequence.next()->text(), "一");
    EXPECT_EQ(sequence.next()->text(), "二");
    EXPECT_FALSE(sequence.next());
    EXPECT_FALSE(sequence.next()) << "the end is reported again, not a hang";
}

TEST(ResultSequence, QueuedResultsComeBeforeTheError) {
    ResultSequence sequence;
    sequence.yield(resultWithText("一"));
    sequence.fail(std::make_exception_ptr(std::runtime_error("analysis failed")));
    EXPECT_EQ(sequence.next()->text(), "一");
    EXPECT_THROW(sequence.next(), std::runtime_error);
}

TEST(ResultSequence, HandsResultsAcrossThreads) {
    ResultSequence sequence;
    std::thread producer([&] {
        for (int i = 0; i < 100; ++i) sequence.yield(resultWithText(std::to_string(i)));
        sequence.finish();
    });
    int count = 0;
    while (auto result = sequence.next()) EXPECT_EQ(result->text(), std::to_string(count++));
    producer.join();
    EXPECT_EQ(count, 100);
}

TEST(ResultSequence, StopRequestEndsAWaitingConsumer) {
    ResultSequence sequence;
    std::stop_source stop;
    auto consumer = std::async(std::launch::async, [&] { return sequence.next(stop.get_token()); });
    EXPECT_EQ(consumer.wait_for(std::chrono::milliseconds(50)), std::future_status::timeout) << "waits for a result";
    stop.request_stop();
    ASSERT_EQ(consumer.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_THROW(consumer.get(), ResultSequence::Cancelled);
}

}  // namespace
}  // namespace pelora::speech
