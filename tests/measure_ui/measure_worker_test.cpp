// The measuring thread of the "Measure" page and the results it keeps:
// every pushed profile measured once and in order, results equal to a
// Measurer run directly on the same profile, a job changed mid-stream, stop,
// and the statistics of the trend.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <thread>

#include "measure/measure_history.h"
#include "measure/measure_worker.h"
#include "model/measure/measurer.h"
#include "model/measure/result_csv.h"
#include "source/profile_source.h"
#include "test_profiles.h"
#include "wait.h"

namespace {

namespace ms = qz417::measure;
using measure_test::Profile;

ms::Job HeightJob(double xMin, double xMax) {
    ms::ToolSetup t;
    t.name = "top";
    t.kind = ms::ToolKind::Height;
    t.region = {xMin, xMax};
    t.limits.push_back({2, 90.0, 110.0}); // mean
    return {{t}};
}

// Waits (at most 10 s) until the worker has received n profiles.
bool WaitReceived(const qz417::MeasureWorker &w, std::uint64_t n) {
    return qz417::test::WaitUntil([&] { return w.received() >= n; }, std::chrono::seconds(10));
}

std::int16_t BoxRaw(int n) {
    return static_cast<std::int16_t>(6000 + (n * 37) % 1000);
}

void ExpectSame(const ms::JobResult &a, const ms::JobResult &b) {
    ASSERT_EQ(a.tools.size(), b.tools.size());
    EXPECT_EQ(a.passed, b.passed);
    for (std::size_t t = 0; t < a.tools.size(); ++t) {
        EXPECT_EQ(a.tools[t].ok, b.tools[t].ok);
        EXPECT_EQ(a.tools[t].limits, b.tools[t].limits);
        for (int k = 0; k < ms::kMaxOutputs; ++k) {
            const double x = a.tools[t].values[static_cast<std::size_t>(k)];
            const double y = b.tools[t].values[static_cast<std::size_t>(k)];
            EXPECT_TRUE((std::isnan(x) && std::isnan(y)) || x == y) << x << " vs " << y;
        }
    }
}

ms::JobResult MeasureDirectly(const ms::Job &job, const measure_test::Packet &packet,
                              const qz417::ProfileScale &scale) {
    std::array<qz417::ProfilePoint, qz417::kProfilePoints> points;
    qz417::DecodePacket(qz417::ProfilePacket(packet.data()), scale, points);
    ms::Measurer m(job);
    return m.Measure(points);
}

TEST(MeasureWorker, MeasuresEveryPushedProfileOnceInOrderAsTheMeasurerDoes) {
    auto source = std::make_shared<qz417::ProfileSource>(qz417::FeedSource::Udp, "UDP");
    qz417::ProfileScale scale;
    scale.rangeZ = 200; // carried in-band: the worker must decode with it
    source->SetDescription(std::nullopt, scale);
    qz417::MeasureWorker worker;
    const ms::Job job = HeightJob(10, 100);
    const std::uint64_t version = worker.SetJob(job);
    ASSERT_TRUE(worker.Start({source}));
    constexpr int kCount = 3000;
    std::vector<qz417::MeasuredProfile> results;
    for (int n = 0; n < kCount; ++n) {
        source->PushNow(Profile(static_cast<std::uint16_t>(n), BoxRaw(n)).data());
        if (n % 1000 == 999) { // keep the result list and queue within bounds
            ASSERT_TRUE(WaitReceived(worker, static_cast<std::uint64_t>(n + 1)));
            worker.TakeResults(results);
        }
    }
    ASSERT_TRUE(WaitReceived(worker, kCount));
    worker.TakeResults(results);
    EXPECT_EQ(worker.measured(), static_cast<std::uint64_t>(kCount));
    EXPECT_EQ(worker.dropped(), 0u);
    ASSERT_EQ(results.size(), static_cast<std::size_t>(kCount));
    for (int n = 0; n < kCount; ++n) {
        const auto &r = results[static_cast<std::size_t>(n)];
        ASSERT_EQ(r.sequence, static_cast<std::uint64_t>(n));
        EXPECT_EQ(r.measurement, static_cast<std::uint16_t>(n));
        EXPECT_EQ(r.jobVersion, version);
        if (n % 97 == 0)
            ExpectSame(
                r.result,
                MeasureDirectly(job, Profile(static_cast<std::uint16_t>(n), BoxRaw(n)), scale));
    }
    // 6000 units of 200 mm in 16384: about 73 mm, the mean limit fails.
    EXPECT_TRUE(results[0].result.tools[0].ok);
    EXPECT_NEAR(results[0].result.tools[0].values[2], 6000 * 200.0 / 16384, 1e-3);
}

TEST(MeasureWorker, AJobChangedMidStreamMeasuresEveryLaterProfile) {
    auto source = std::make_shared<qz417::ProfileSource>(qz417::FeedSource::Udp, "UDP");
    qz417::MeasureWorker worker;
    const ms::Job a = HeightJob(10, 100);
    ms::Job b = HeightJob(-100, -10);
    b.tools[0].name = "belt";
    const std::uint64_t va = worker.SetJob(a);
    ASSERT_TRUE(worker.Start({source}));
    for (int n = 0; n < 500; ++n)
        source->PushNow(Profile(static_cast<std::uint16_t>(n), BoxRaw(n)).data());
    const std::uint64_t vb = worker.SetJob(b);
    EXPECT_NE(va, vb);
    for (int n = 500; n < 1000; ++n)
        source->PushNow(Profile(static_cast<std::uint16_t>(n), BoxRaw(n)).data());
    ASSERT_TRUE(WaitReceived(worker, 1000));
    std::vector<qz417::MeasuredProfile> results;
    worker.TakeResults(results);
    ASSERT_EQ(results.size(), 1000u);
    for (const auto &r : results) {
        // Pushed after the change: measured with the new job.
        if (r.sequence >= 500) {
            ASSERT_EQ(r.jobVersion, vb) << r.sequence;
        }
        ASSERT_TRUE(r.jobVersion == va || r.jobVersion == vb);
        const auto n = static_cast<int>(r.sequence);
        const auto packet = Profile(static_cast<std::uint16_t>(n), BoxRaw(n));
        ExpectSame(r.result, MeasureDirectly(r.jobVersion == va ? a : b, packet, {}));
    }
    EXPECT_NEAR(results.back().result.tools[0].values[2], 125.0, 1e-3);

    // A job that does not validate is refused and the current one stays.
    ms::Job bad = b;
    bad.tools[0].region = {50, 10};
    EXPECT_THROW(worker.SetJob(bad), ms::JobError);
    source->PushNow(Profile(1000, 6000).data());
    ASSERT_TRUE(WaitReceived(worker, 1001));
    results.clear();
    worker.TakeResults(results);
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0].jobVersion, vb);

    // Stopped: unsubscribed and joined; nothing measured after it.
    worker.Stop();
    EXPECT_FALSE(worker.running());
    EXPECT_EQ(source->feed()->subscriberCount(), 0);
    source->PushNow(Profile(1001, 6000).data());
    EXPECT_EQ(worker.received(), 1001u);
}

TEST(MeasureWorker, WithoutAJobProfilesAreReceivedAndShownButNotMeasured) {
    auto source = std::make_shared<qz417::ProfileSource>(qz417::FeedSource::Udp, "UDP");
    qz417::MeasureWorker worker;
    ASSERT_TRUE(worker.Start({source}));
    source->PushNow(Profile(7, 6000).data());
    ASSERT_TRUE(WaitReceived(worker, 1));
    std::vector<qz417::MeasuredProfile> results;
    worker.TakeResults(results);
    EXPECT_TRUE(results.empty());
    EXPECT_EQ(worker.measured(), 0u);
    qz417::FeedPacket latest;
    ASSERT_TRUE(worker.TakeLatest(latest));
    EXPECT_EQ(qz417::ProfilePacket(latest.bytes.data()).measurementCount(), 7);
    EXPECT_FALSE(worker.TakeLatest(latest));
}

qz417::MeasuredProfile Result(std::uint64_t sequence, bool ok, double value, bool failed) {
    qz417::MeasuredProfile p;
    p.sequence = sequence;
    ms::ToolResult tr;
    tr.ok = ok;
    tr.reason = ok ? nullptr : "no points in the region";
    tr.values.fill(ok ? 0.0 : std::nan(""));
    if (ok)
        tr.values[2] = value;
    tr.limits = {ok ? (failed ? ms::LimitState::Fail : ms::LimitState::Pass)
                    : ms::LimitState::NoResult};
    tr.passed = ok && !failed;
    p.result.tools = {tr};
    p.result.passed = tr.passed;
    return p;
}

TEST(MeasureHistory, TrendStatisticsOfAKnownSequenceOverTheLastN) {
    ms::Job job = HeightJob(0, 10);
    job.tools[0].limits = {{2, std::nan(""), 8.0}};
    qz417::MeasureHistory history(10);
    // Values 1 to 12 (above 8 fails), then one without a result.
    for (int v = 1; v <= 12; ++v)
        history.Add(Result(static_cast<std::uint64_t>(v), true, v, v > 8));
    history.Add(Result(13, false, 0, false));
    ASSERT_EQ(history.kept().size(), 10u);
    // Kept: 4 .. 12 and the one without a result.
    const qz417::TrendStatistics s = history.Statistics(0, 2, job.tools[0]);
    EXPECT_EQ(s.count, 9u);
    EXPECT_DOUBLE_EQ(s.mean, 8.0);
    EXPECT_NEAR(s.std, std::sqrt(7.5), 1e-12); // sample variance of 4..12
    EXPECT_EQ(s.min, 4.0);
    EXPECT_EQ(s.max, 12.0);
    EXPECT_EQ(s.failures, 4u); // 9, 10, 11, 12
    EXPECT_EQ(s.noResult, 1u);
    const auto values = history.Values(0, 2);
    ASSERT_EQ(values.size(), 10u);
    EXPECT_EQ(values.front(), 4.0);
    EXPECT_TRUE(std::isnan(values.back()));
    // Another output of the same tool has no limit: no failures.
    EXPECT_EQ(history.Statistics(0, 0, job.tools[0]).failures, 0u);
    history.SetDepth(3);
    EXPECT_EQ(history.kept().size(), 3u);
    EXPECT_EQ(history.kept().front().sequence, 11u);
}

TEST(ResultCsv, ColumnsAndRowsAsTheCommandLineWritesThem) {
    const ms::Job job = HeightJob(0, 10);
    EXPECT_EQ(ms::ResultCsvHeader(job),
              "profile,measurement,top.min,top.max,top.mean,top.median,top.count,top.state,"
              "passed\n");
    std::string line;
    qz417::MeasuredProfile ok = Result(5, true, 100.25, false);
    ms::AppendResultCsvRow(line, job, 5, 17, ok.result);
    EXPECT_EQ(line, "5,17,0,0,100.25,0,0,pass,1\n");
    line.clear();
    ms::AppendResultCsvRow(line, job, 6, 18, Result(6, false, 0, false).result);
    EXPECT_EQ(line, "6,18,,,,,,no result: no points in the region,0\n");
    EXPECT_EQ(ms::CsvField("a,\"b\""), "\"a,\"\"b\"\"\"");
    EXPECT_EQ(ms::CsvNumber(0.1234567891), "0.1234568");
}

} // namespace
