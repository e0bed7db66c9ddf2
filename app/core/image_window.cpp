#include "core/image_window.h"

#include "core/app_state.h"

std::uint8_t SelectingWindow = 0;
qz417::WindowRectangle SelectionRect;
qz417::WindowRectangle WindowRect = qz417::kWholePicture;

namespace qz417 {

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

} // namespace qz417

void ApplyImageWindowFromConfig(const qz417::ConfigArea &area) {
    SelectionRect = qz417::DecodeImageWindow(qz417::WindowFieldsOf(area));
    WindowRect = SelectionRect;
}
