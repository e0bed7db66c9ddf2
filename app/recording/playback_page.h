// The "Playback" page: a recording shown through the same chart class as
// the live pages, with its counters and rates, and played into the profile
// feed (so the "Surface" page shows it too), with no scanner connected;
// "Export..." writes profiles of it to a file.
#pragma once

#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>

#include "feed/profile_feed.h"
#include "recording/player.h"

class QComboBox;
class QLabel;
class QPushButton;
class QSlider;

namespace qz {

class ExportControls;
class ProfileChart;

class PlaybackPage : public QWidget {
    Q_OBJECT

public:
    // showDescription: shows a device description (255 bytes) on the
    // "Information" page.
    PlaybackPage(QWidget *parent, std::shared_ptr<ProfileFeed> feed,
                 std::function<void(const std::uint8_t *)> showDescription);
    ~PlaybackPage() override;

    bool OpenRecording(const QString &path);
    Player &player() { return player_; }
    ProfileChart *chart() const { return chart_; }
    QPushButton *playButton() const { return play_; }
    QPushButton *stepBackButton() const { return back_; }
    QPushButton *stepForwardButton() const { return forward_; }
    QSlider *slider() const { return slider_; }
    QComboBox *speedBox() const { return speed_; }
    QLabel *positionLabel() const { return position_; }
    QLabel *counterLabel() const { return counter_; }
    QLabel *rateLabel() const { return rate_; }
    // "Export...": profiles of the open recording to a file.
    ExportControls *exportControls() const { return export_; }
    // Charts drawn since the recording was opened.
    std::uint64_t plotted() const { return plotted_; }

    // Draws the profile shown last (the page's timer calls it).
    void Refresh();

private:
    void OpenClick();
    void PlayClick();
    void SpeedChanged(int index);

    Player player_;
    std::function<void(const std::uint8_t *)> showDescription_;
    ProfileChart *chart_ = nullptr;
    QLabel *counter_ = nullptr;
    QLabel *rate_ = nullptr;
    QLabel *position_ = nullptr;
    QLabel *file_ = nullptr;
    QPushButton *open_ = nullptr;
    QPushButton *play_ = nullptr;
    QPushButton *back_ = nullptr;
    QPushButton *forward_ = nullptr;
    QSlider *slider_ = nullptr;
    QComboBox *speed_ = nullptr;
    ExportControls *export_ = nullptr;
    QString recordingPath_; // the file open, for the export
    QTimer timer_;
    std::int64_t drawn_ = -1;
    std::uint64_t plotted_ = 0;
    QElapsedTimer rateClock_;
    std::uint64_t rateMark_ = 0;
};

} // namespace qz
