// The off-screen picture, pixel by pixel: the red colour table, the outline
// inverted into it, and the panel's own copy.
#include <QtTest>

#include <cstring>

#include "views/frame_renderer.h"
#include "widgets/profile_chart.h"
#include "widgets/video_panel.h"

namespace {

constexpr QRgb kBlack = 0xFF000000u;
constexpr QRgb kRed = 0xFFFF0000u;
constexpr QRgb kWhite = 0xFFFFFFFFu;
constexpr QRgb kCyan = 0xFF00FFFFu;

void FillFrame(qz417::FrameRenderer &r, std::uint8_t value) {
    std::memset(r.frameBytes(), value, qz417::kPictureWidth * qz417::kPictureHeight);
}

// Pixels that differ from the picture without outline.
int ChangedPixels(const QImage &a, const QImage &b) {
    int n = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            n += a.pixel(x, y) != b.pixel(x, y);
    return n;
}

const qz417::WindowRectangle kNoOutline{-10, -10, -10, -10}; // a single point off the picture

} // namespace

class FrameRendererTest : public QObject {
    Q_OBJECT

private slots:
    void colourTableIsRed() {
        qz417::FrameRenderer r;
        for (int x = 0; x < qz417::kPictureWidth; ++x)
            r.frameBytes()[x] = static_cast<std::uint8_t>(x % 256);
        const QImage &pic = r.Render(kNoOutline);
        QCOMPARE(pic.format(), QImage::Format_RGB32);
        QCOMPARE(pic.size(), QSize(640, 512));
        QCOMPARE(pic.pixel(0, 0), kBlack);
        QCOMPARE(pic.pixel(255, 0), kRed);
        QCOMPARE(pic.pixel(128, 0), qRgb(128, 0, 0));
        QCOMPARE(pic.pixel(5, 1), kBlack); // the other rows are still 0
    }

    void outlineInvertsEachPixelOnce_data() {
        QTest::addColumn<int>("value");
        QTest::addColumn<uint>("under");
        QTest::addColumn<uint>("inverted");
        QTest::newRow("black becomes white") << 0 << uint(kBlack) << uint(kWhite);
        QTest::newRow("full red becomes cyan") << 255 << uint(kRed) << uint(kCyan);
    }
    void outlineInvertsEachPixelOnce() {
        QFETCH(int, value);
        QFETCH(uint, under);
        QFETCH(uint, inverted);
        qz417::FrameRenderer r;
        FillFrame(r, static_cast<std::uint8_t>(value));
        const QImage &pic = r.Render(qz417::WindowRectangle{10, 20, 30, 40});
        for (int x = 10; x <= 30; ++x) {
            QCOMPARE(pic.pixel(x, 20), QRgb(inverted));
            QCOMPARE(pic.pixel(x, 40), QRgb(inverted));
        }
        for (int y = 20; y <= 40; ++y) {
            QCOMPARE(pic.pixel(10, y), QRgb(inverted));
            QCOMPARE(pic.pixel(30, y), QRgb(inverted));
        }
        QCOMPARE(pic.pixel(11, 21), QRgb(under)); // inside
        QCOMPARE(pic.pixel(9, 20), QRgb(under));  // outside
        QCOMPARE(pic.pixel(31, 40), QRgb(under));
        // 2 * 21 + 2 * 19 outline pixels and no other.
        qz417::FrameRenderer plain;
        FillFrame(plain, static_cast<std::uint8_t>(value));
        QCOMPARE(ChangedPixels(pic, plain.Render(kNoOutline)), 80);
    }

    void degenerateRectangles_data() {
        QTest::addColumn<int>("left");
        QTest::addColumn<int>("top");
        QTest::addColumn<int>("right");
        QTest::addColumn<int>("bottom");
        QTest::addColumn<QList<QPoint>>("shown");
        QTest::newRow("single point") << 50 << 60 << 50 << 60 << QList<QPoint>{};
        QTest::newRow("zero width")
            << 50 << 60 << 50 << 70 << QList<QPoint>{QPoint(50, 60), QPoint(50, 70)};
        QTest::newRow("zero height")
            << 50 << 60 << 58 << 60 << QList<QPoint>{QPoint(50, 60), QPoint(58, 60)};
        QTest::newRow("outside: all fields 255") << 640 << 512 << 1280 << 1024 << QList<QPoint>{};
        QTest::newRow("decoded whole picture")
            << 0 << 0 << 640 << 512 << QList<QPoint>{QPoint(0, 0)};
    }
    void degenerateRectangles() {
        QFETCH(int, left);
        QFETCH(int, top);
        QFETCH(int, right);
        QFETCH(int, bottom);
        QFETCH(QList<QPoint>, shown);
        qz417::FrameRenderer r;
        FillFrame(r, 0);
        const QImage &pic = r.Render(qz417::WindowRectangle{left, top, right, bottom});
        for (const QPoint &p : shown)
            QCOMPARE(pic.pixel(p), kWhite);
        if (QTest::currentDataTag() == QByteArray("decoded whole picture")) {
            // Only the top row and the left column are inside the picture.
            QCOMPARE(pic.pixel(639, 0), kWhite);
            QCOMPARE(pic.pixel(0, 511), kWhite);
            QCOMPARE(pic.pixel(639, 511), kBlack);
            return;
        }
        qz417::FrameRenderer plain;
        FillFrame(plain, 0);
        QCOMPARE(ChangedPixels(pic, plain.Render(kNoOutline)), int(shown.size()));
    }

    void eachFrameHasExactlyOneOutline() {
        qz417::FrameRenderer r;
        FillFrame(r, 0);
        r.Render(qz417::WindowRectangle{10, 10, 100, 100});
        const QImage &pic = r.Render(qz417::WindowRectangle{20, 20, 30, 30});
        QCOMPARE(pic.pixel(10, 10), kBlack); // the earlier outline is gone
        QCOMPARE(pic.pixel(20, 20), kWhite);
    }

    void invertedDragOutline() {
        // While dragging right-to-left the outline runs from the press point.
        qz417::FrameRenderer r;
        FillFrame(r, 0);
        const QImage &pic = r.Render(qz417::WindowRectangle{100, 100, 90, 110});
        QCOMPARE(pic.pixel(95, 100), kWhite);
        QCOMPARE(pic.pixel(95, 110), kWhite);
        QCOMPARE(pic.pixel(90, 105), kWhite);
        QCOMPARE(pic.pixel(100, 105), kWhite);
    }

    void panelKeepsItsOwnCopy() {
        qz417::FrameRenderer r;
        FillFrame(r, 255);
        qz417::VideoPanel panel(nullptr);
        panel.resize(640, 512);
        panel.showFrame(r.Render(kNoOutline));
        const uchar *bits = panel.lastFrame().constBits();
        QVERIFY(bits != r.picture().constBits());
        FillFrame(r, 0);
        panel.showFrame(r.Render(kNoOutline));
        // The same buffer again, now holding the new picture.
        QCOMPARE(panel.lastFrame().constBits(), bits);
        QCOMPARE(panel.lastFrame().pixel(3, 3), kBlack);
        FillFrame(r, 255);
        r.Render(kNoOutline);
        QCOMPARE(panel.lastFrame().pixel(3, 3), kBlack);
        // The panel paints the picture it holds.
        QCOMPARE(panel.grab().toImage().pixel(3, 3), kBlack);
    }
};

QTEST_MAIN(FrameRendererTest)
#include "frame_renderer_test.moc"
