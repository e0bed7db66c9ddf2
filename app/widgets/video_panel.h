// PanelVideo: shows the last drawn camera picture at one screen pixel per
// image pixel, and repaints it whenever the system asks.
#pragma once

#include <QImage>
#include <QWidget>

namespace qz417 {

class VideoPanel : public QWidget {
    Q_OBJECT

public:
    explicit VideoPanel(QWidget *parent);

    // Takes the finished picture (640 x 512) and schedules a repaint.
    void showFrame(const QImage &frame);
    const QImage &lastFrame() const { return frame_; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QImage frame_;
};

} // namespace qz417
