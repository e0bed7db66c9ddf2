#include <gtest/gtest.h>

#include "core/app_state.h"
#include "core/image_window.h"

namespace {

using qz417::WindowFields;
using qz417::WindowRectangle;

class ImageWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        qz417::ResetAppState();
        qz417::ResetImageWindow();
    }

    // A left-button drag from (x0, y0) over (x1, y1).
    static void Drag(int x0, int y0, int x1, int y1) {
        qz417::BeginWindowSelection(x0, y0);
        qz417::MoveWindowSelection(x1, y1);
        qz417::EndWindowSelection();
    }
    static WindowFields Fields() { return qz417::WindowFieldsOf(DeviceConfig.read()); }
};

struct DragCase {
    const char *name;
    int x0, y0, x1, y1;
    WindowFields fields;
    WindowRectangle committed;
};

class ImageWindowDrag : public ImageWindowTest, public ::testing::WithParamInterface<DragCase> {};

TEST_P(ImageWindowDrag, EncodesIntoTheBlockAndCommits) {
    const DragCase c = GetParam();
    Drag(c.x0, c.y0, c.x1, c.y1);
    EXPECT_EQ(Fields(), c.fields) << c.name;
    EXPECT_EQ(DeviceConfig.read().windowMode(), 3) << c.name;
    EXPECT_EQ(WindowRect, c.committed) << c.name;
    EXPECT_EQ(SelectingWindow, 0);
    EXPECT_EQ(RequestWriteParams.load(), 1);
    EXPECT_EQ(RequestImage.load(), 1);
}

INSTANTIATE_TEST_SUITE_P(
    Values, ImageWindowDrag,
    ::testing::Values(
        DragCase{"click", 320, 256, 320, 256, {127, 0, 127, 0}, {320, 256, 320, 256}},
        DragCase{"ordinary", 100, 50, 299, 249, {39, 79, 24, 99}, {100, 50, 299, 249}},
        DragCase{
            "beyondRightAndBottom", 600, 500, 900, 800, {239, 15, 249, 5}, {600, 500, 639, 511}},
        DragCase{"rightToLeft", 300, 100, 200, 200, {0, 255, 0, 255}, qz417::kWholePicture},
        DragCase{"bottomToTop", 100, 300, 200, 200, {0, 255, 0, 255}, qz417::kWholePicture},
        DragCase{"releasedLeftOfPanel", 100, 100, -20, 200, {0, 255, 0, 255}, qz417::kWholePicture},
        DragCase{"wholePicture", 0, 0, 639, 511, {0, 255, 0, 255}, qz417::kWholePicture}));

TEST_F(ImageWindowTest, DecodingIsNotTheInverseOfTheEncoding) {
    EXPECT_EQ(qz417::DecodeImageWindow(WindowFields{39, 79, 24, 99}),
              (WindowRectangle{97, 48, 295, 246}));
    EXPECT_EQ(qz417::DecodeImageWindow(WindowFields{0, 255, 0, 255}),
              (WindowRectangle{0, 0, 640, 512}));
    // Left 640, right 1280, top 512, bottom 1024: wholly outside the picture.
    EXPECT_EQ(qz417::DecodeImageWindow(WindowFields{255, 255, 255, 255}),
              (WindowRectangle{640, 512, 1280, 1024}));
}

TEST_F(ImageWindowTest, ApplyFromConfigSetsBothRectanglesNotTheDragFlag) {
    qz417::ConfigArea area;
    area.setWindowLeft(39);
    area.setWindowWidth(79);
    area.setWindowTop(24);
    area.setWindowHeight(99);
    qz417::BeginWindowSelection(5, 5);
    ApplyImageWindowFromConfig(area);
    EXPECT_EQ(SelectionRect, (WindowRectangle{97, 48, 295, 246}));
    EXPECT_EQ(WindowRect, (WindowRectangle{97, 48, 295, 246}));
    EXPECT_EQ(SelectingWindow, 1);
    // The drag continues from the decoded corner.
    qz417::MoveWindowSelection(300, 300);
    EXPECT_EQ(qz417::OutlinedWindow(), (WindowRectangle{97, 48, 300, 300}));
}

TEST_F(ImageWindowTest, OutlineFollowsTheDragThenTheCommittedWindow) {
    EXPECT_EQ(qz417::OutlinedWindow(), qz417::kWholePicture);
    qz417::BeginWindowSelection(10, 20);
    qz417::MoveWindowSelection(30, 40);
    EXPECT_EQ(qz417::OutlinedWindow(), (WindowRectangle{10, 20, 30, 40}));
    EXPECT_EQ(RequestWriteParams.load(), 0); // nothing is written during the drag
    qz417::EndWindowSelection();
    EXPECT_EQ(qz417::OutlinedWindow(), (WindowRectangle{10, 20, 30, 40}));
}

TEST_F(ImageWindowTest, MoveAndReleaseWithoutADragChangeNothing) {
    const qz417::ConfigArea before = DeviceConfig.read();
    qz417::MoveWindowSelection(100, 100);
    qz417::EndWindowSelection();
    EXPECT_EQ(DeviceConfig.read(), before);
    EXPECT_EQ(WindowRect, qz417::kWholePicture);
    EXPECT_EQ(RequestWriteParams.load(), 0);
    EXPECT_EQ(RequestImage.load(), 0);
}

TEST_F(ImageWindowTest, OtherFieldsOfTheBlockAreKept) {
    DeviceConfig.edit([](qz417::ConfigArea &a) {
        a.setLaserLevel(77);
        a.setByteAt(4, 0xAB);
        a.setByteAt(10, 0xCD);
    });
    Drag(100, 50, 299, 249);
    const qz417::ConfigArea after = DeviceConfig.read();
    EXPECT_EQ(after.laserLevel(), 77);
    EXPECT_EQ(after.byteAt(4), 0xAB);
    EXPECT_EQ(after.byteAt(10), 0xCD);
}

} // namespace
