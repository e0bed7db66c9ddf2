// qz417views_bench: what one view tick costs with 1024 valid points per
// packet (decode + PlotProfile, the points' repaint, the widget paint), and
// what drawing one camera frame costs (shared buffer -> conversion with the
// outline -> the panel's copy -> the panel's paint). Offscreen by default.
//
//   qz417views_bench [iterations]
#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <QApplication>
#include <QWindow>

#include "alloc_counter.h"
#include "core/app_state.h"
#include "core/image_window.h"
#include "synthetic_packet.h"
#include "views/frame_renderer.h"
#include "widgets/profile_chart.h"
#include "widgets/video_panel.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Stats {
    double median;
    double p95;
};

Stats Summarise(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return Stats{v[v.size() / 2], v[std::min(v.size() - 1, v.size() * 95 / 100)]};
}

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

void Print(const char *what, const std::vector<double> &v) {
    const Stats s = Summarise(v);
    std::printf("  %-44s median %7.3f ms   p95 %7.3f ms\n", what, s.median, s.p95);
}

// Paints only reach a window the platform has exposed.
void WaitExposed(QWidget &w) {
    const auto until = Clock::now() + std::chrono::seconds(2);
    while (Clock::now() < until && !(w.windowHandle() && w.windowHandle()->isExposed()))
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

} // namespace

int main(int argc, char *argv[]) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int iterations = argc > 1 ? std::max(100, std::atoi(argv[1])) : 2000;

    // ---- the result view's tick ----
    qz417::ProfileChart chart(nullptr, QStringLiteral("SeriesResult"));
    chart.resize(636, 508);
    chart.SetAxisRanges(-120.75, 120.75, 0, 262.5);
    chart.show();
    WaitExposed(chart);
    chart.replot();
    chart.repaint();

    std::array<std::uint8_t, QZ417_PACKET_SIZE> packet{};
    std::array<std::uint8_t, QZ417_PACKET_SIZE> tickCopy{};
    std::vector<double> plot, layer, paint, total;
    std::uint64_t tickAllocs = 0;
    for (int n = 0; n < iterations; ++n) {
        qz417::bench::MakePacket(packet, static_cast<unsigned>(n));
        ResultPacket.publish(packet.data());
        const auto t0 = Clock::now();
        const std::uint64_t a0 = bench::AllocationCount();
        // What the tick does with a new packet: take it, decode and plot it.
        const std::uint64_t seq = ResultPacket.read(tickCopy.data());
        chart.PlotProfile(tickCopy.data(), qz417::CurrentScale(), seq);
        const auto t1 = Clock::now();
        // The repaint that the chart makes at most once per 16 ms.
        chart.FlushRepaint();
        const auto t2 = Clock::now();
        chart.repaint(); // the widget's paint of its layer buffers
        const auto t3 = Clock::now();
        if (n >= 10)
            tickAllocs += bench::AllocationCount() - a0;
        plot.push_back(Ms(t1 - t0));
        layer.push_back(Ms(t2 - t1));
        paint.push_back(Ms(t3 - t2));
        total.push_back(Ms(t3 - t0));
    }
    std::vector<double> unchanged;
    for (int n = 0; n < iterations; ++n) {
        const auto t0 = Clock::now();
        const std::uint64_t seq = ResultPacket.sequence();
        chart.PlotProfile(tickCopy.data(), qz417::CurrentScale(), seq);
        unchanged.push_back(Ms(Clock::now() - t0));
    }
    std::printf("Result view tick, 1024 valid points, %d packets (%s):\n", iterations,
                qPrintable(QGuiApplication::platformName()));
    Print("decode + PlotProfile (every tick, new packet)", plot);
    Print("points layer repaint (<= 1 per 16 ms)", layer);
    Print("widget paint (<= 1 per screen refresh)", paint);
    Print("all three together", total);
    Print("tick with an unchanged packet", unchanged);
    std::printf("  allocations per new-packet tick incl. paint: %.1f\n",
                static_cast<double>(tickAllocs) / (iterations - 10));

    // ---- one camera frame ----
    qz417::FrameRenderer renderer;
    qz417::VideoPanel panel(nullptr);
    panel.resize(640, 512);
    panel.show();
    WaitExposed(panel);
    std::vector<std::uint8_t> image(QZ417_IMAGE_SIZE);
    std::vector<double> draw, drawPaint;
    std::uint64_t frameAllocs = 0, readAllocs = 0, renderAllocs = 0;
    const int frames = std::max(100, iterations / 4);
    for (int n = 0; n < frames; ++n) {
        for (std::size_t i = 0; i < image.size(); i += 97)
            image[i] = static_cast<std::uint8_t>(i + static_cast<std::size_t>(n));
        ImageBuffer.publish(image.data());
        const qz417::WindowRectangle outline{100 + n % 50, 50, 299, 249};
        const auto t0 = Clock::now();
        const std::uint64_t a0 = bench::AllocationCount();
        // DrawImageFrame: the shared frame, the one conversion with the outline, the copy.
        ImageBuffer.read(renderer.frameBytes());
        const std::uint64_t aRead = bench::AllocationCount();
        const QImage &picture = renderer.Render(outline);
        const std::uint64_t aRender = bench::AllocationCount();
        panel.showFrame(picture);
        const std::uint64_t a1 = bench::AllocationCount();
        if (n >= 10) {
            readAllocs += aRead - a0;
            renderAllocs += aRender - aRead;
        }
        const auto t1 = Clock::now();
        panel.repaint();
        const auto t2 = Clock::now();
        if (n >= 10)
            frameAllocs += a1 - a0;
        draw.push_back(Ms(t1 - t0));
        drawPaint.push_back(Ms(t2 - t1));
    }
    std::printf("Image view, 640 x 512 frames, %d frames:\n", frames);
    Print("DrawImageFrame (read, convert + outline, copy)", draw);
    Print("panel paint (<= 1 per screen refresh)", drawPaint);
    std::printf("  allocations per DrawImageFrame: %.2f (read %.2f, convert + outline %.2f, "
                "copy + update %.2f)\n",
                static_cast<double>(frameAllocs) / (frames - 10),
                static_cast<double>(readAllocs) / (frames - 10),
                static_cast<double>(renderAllocs) / (frames - 10),
                static_cast<double>(frameAllocs - readAllocs - renderAllocs) / (frames - 10));
    return 0;
}
