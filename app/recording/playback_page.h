// The "Playback" page: a recording shown through the same chart class as
// the live pages, with the recorded counters and the rate, its recorded
// device description under the chart, and played into the playback source
// (app/source; the "Surface" page shows it when bound to it). Nothing of a
// connected scanner changes: not the scale, not the "Information" page, not
// the parameter groups. "Export..." writes profiles of it to a file.
#pragma once

#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>

#include <cstdint>
#include <memory>

#include "recording/player.h"
#include "source/profile_source.h"

class QComboBox;
class QLabel;
class QPushButton;
class QSlider;

namespace qz417 {

class ExportControls;
class ProfileChart;

class PlaybackPage : public QWidget {
    Q_OBJECT

public:
    // source: the playback source the player pushes into.
    PlaybackPage(QWidget *parent, std::shared_ptr<ProfileSource> source);
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
    // The recorded device description (two lines; every row in its tooltip).
    QLabel *descriptionLabel() const { return description_; }
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
    ProfileChart *chart_ = nullptr;
    QLabel *counter_ = nullptr;
    QLabel *rate_ = nullptr;
    QLabel *position_ = nullptr;
    QLabel *file_ = nullptr;
    QLabel *description_ = nullptr;
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

} // namespace qz417
