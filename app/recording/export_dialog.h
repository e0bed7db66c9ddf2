// The "Export" dialog of the "Playback" page: the format (CSV, PLY, PCD,
// profile text), the profiles (first and count, counted from 1 as the page
// shows them; by default the whole recording, or the profile shown now for
// the profile text), y of the point clouds from a pitch or a speed, and the
// file to write (by default beside the recording, else in the Documents
// folder). OK with a bad range or no file shows why and keeps the dialog.
#pragma once

#include <QDialog>
#include <QString>

#include <cstdint>

#include "model/recording/recording_export.h"

class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSpinBox;

namespace qz417 {

// The recording the page shows.
struct ExportSource {
    QString recordingPath;
    std::uint64_t profiles = 0;
    std::int64_t shown = -1; // index of the profile shown now, -1 before any
};

class ExportDialog : public QDialog {
    Q_OBJECT

public:
    ExportDialog(QWidget *parent, const ExportSource &source);

    // What the fields ask for (indices from 0) and the file.
    recording::ExportRequest request() const;
    QString path() const;
    // Why the fields cannot be exported; empty when they can.
    QString Problem() const;

    // The file offered for a format: beside the recording when its folder
    // can be written, else in the Documents folder.
    static QString DefaultPath(const ExportSource &source, recording::ExportFormat format);

    QComboBox *formatBox() const { return format_; }
    QSpinBox *firstBox() const { return first_; }
    QSpinBox *countBox() const { return count_; }
    QRadioButton *pitchButton() const { return pitchButton_; }
    QDoubleSpinBox *pitchBox() const { return pitch_; }
    QRadioButton *speedButton() const { return speedButton_; }
    QDoubleSpinBox *speedBox() const { return speed_; }
    QLineEdit *pathEdit() const { return path_; }
    QPushButton *okButton() const { return ok_; }

    void accept() override;

private:
    recording::ExportFormat format() const;
    void FormatChanged();
    void UpdateDefaultPath(); // unless the user chose the file
    void Browse();

    ExportSource source_;
    QComboBox *format_ = nullptr;
    QSpinBox *first_ = nullptr;
    QSpinBox *count_ = nullptr;
    QRadioButton *pitchButton_ = nullptr;
    QDoubleSpinBox *pitch_ = nullptr;
    QRadioButton *speedButton_ = nullptr;
    QDoubleSpinBox *speed_ = nullptr;
    QLineEdit *path_ = nullptr;
    QPushButton *ok_ = nullptr;
    bool pathEdited_ = false; // the user typed or chose a file: keep it
    bool wasText_ = false;
};

} // namespace qz417
