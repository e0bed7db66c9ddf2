#include "model/image_window.h"

namespace qz417 {

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

} // namespace qz417
