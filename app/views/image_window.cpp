#include "views/image_window.h"

#include "core/app_state.h"

std::uint8_t SelectingWindow = 0;
qz::WindowRectangle SelectionRect;
qz::WindowRectangle WindowRect = qz::kWholePicture;

namespace qz {

WindowRectangle FinishSelection(WindowRectangle r) {
    if (r.right > kPictureWidth - 1)
        r.right = kPictureWidth - 1;
    if (r.bottom > kPictureHeight - 1)
        r.bottom = kPictureHeight - 1;
    if (r.left > r.right || r.top > r.bottom)
        r = kWholePicture;
    return r;
}

WindowFields EncodeImageWindow(const WindowRectangle &r) {
    WindowFields f;
    f.left = static_cast<std::uint8_t>(r.left * 255 / kPictureWidth);
    f.width = static_cast<std::uint8_t>(((r.right - r.left) * 255 + 255) / kPictureWidth);
    f.top = static_cast<std::uint8_t>(r.top * 255 / kPictureHeight);
    f.height = static_cast<std::uint8_t>(((r.bottom - r.top) * 255 + 255) / kPictureHeight);
    return f;
}

WindowRectangle DecodeImageWindow(const WindowFields &f) {
    WindowRectangle r;
    r.left = f.left * kPictureWidth / 255;
    r.right = r.left + f.width * kPictureWidth / 255;
    r.top = f.top * kPictureHeight / 255;
    r.bottom = r.top + f.height * kPictureHeight / 255;
    return r;
}

WindowFields WindowFieldsOf(const ConfigArea &area) {
    return WindowFields{area.windowLeft(), area.windowWidth(), area.windowTop(),
                        area.windowHeight()};
}

void BeginWindowSelection(std::int32_t x, std::int32_t y) {
    SelectionRect = WindowRectangle{x, y, x, y};
    SelectingWindow = 1;
}

void MoveWindowSelection(std::int32_t x, std::int32_t y) {
    if (!SelectingWindow)
        return;
    SelectionRect.right = x;
    SelectionRect.bottom = y;
}

void EndWindowSelection() {
    if (!SelectingWindow)
        return;
    SelectionRect = FinishSelection(SelectionRect);
    const WindowFields f = EncodeImageWindow(SelectionRect);
    DeviceConfig.edit([&f](ConfigArea &area) {
        area.setWindowLeft(f.left);
        area.setWindowWidth(f.width);
        area.setWindowTop(f.top);
        area.setWindowHeight(f.height);
        area.setWindowMode(3);
    });
    WindowRect = SelectionRect;
    SelectingWindow = 0;
    // The write goes out before the picture that shows its effect.
    RequestWriteParams = 1;
    RequestImage = 1;
}

void ResetImageWindow() {
    SelectingWindow = 0;
    WindowRect = kWholePicture;
}

WindowRectangle OutlinedWindow() {
    return SelectingWindow ? SelectionRect : WindowRect;
}

} // namespace qz

void ApplyImageWindowFromConfig(const qz::ConfigArea &area) {
    SelectionRect = qz::DecodeImageWindow(qz::WindowFieldsOf(area));
    WindowRect = SelectionRect;
}
