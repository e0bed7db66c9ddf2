#include "recording/export_dialog.h"

#include "recording/save_folder.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QDoubleSpinBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>

#include <algorithm>
#include <climits>
#include <iterator>

namespace qz417 {

namespace {

using recording::ExportFormat;

// In the order of the format box.
constexpr ExportFormat kFormats[] = {ExportFormat::Csv, ExportFormat::Ply, ExportFormat::Pcd,
                                     ExportFormat::ProfileText, ExportFormat::ResultsCsv};
constexpr int kFormatCount = static_cast<int>(std::size(kFormats));

QString Suffix(ExportFormat format) {
    switch (format) {
    case ExportFormat::Csv:
    case ExportFormat::ResultsCsv:
        return QStringLiteral("csv");
    case ExportFormat::Ply:
        return QStringLiteral("ply");
    case ExportFormat::Pcd:
        return QStringLiteral("pcd");
    case ExportFormat::ProfileText:
        break;
    }
    return QStringLiteral("txt");
}

QString Filter(ExportFormat format) {
    switch (format) {
    case ExportFormat::Csv:
    case ExportFormat::ResultsCsv:
        return QStringLiteral("CSV files (*.csv);;All files (*)");
    case ExportFormat::Ply:
        return QStringLiteral("PLY point clouds (*.ply);;All files (*)");
    case ExportFormat::Pcd:
        return QStringLiteral("PCD point clouds (*.pcd);;All files (*)");
    case ExportFormat::ProfileText:
        break;
    }
    return QStringLiteral("Profile files (*.txt);;All files (*)");
}

int ClampToInt(std::uint64_t n) {
    return static_cast<int>(std::min<std::uint64_t>(n, INT_MAX));
}

} // namespace

ExportDialog::ExportDialog(QWidget *parent, const ExportSource &source)
    : QDialog(parent), source_(source) {
    setObjectName(QStringLiteral("ExportDialog"));
    setWindowTitle(QStringLiteral("Export profiles"));
    auto *form = new QFormLayout(this);

    format_ = new QComboBox(this);
    format_->setObjectName(QStringLiteral("ComboBoxExportFormat"));
    format_->addItems({QStringLiteral("CSV (one row per point)"), QStringLiteral("PLY point cloud"),
                       QStringLiteral("PCD point cloud"),
                       QStringLiteral("Profile text (one profile)"),
                       QStringLiteral("Measurement results (CSV, one row per profile)")});
    form->addRow(QStringLiteral("Format:"), format_);

    // Counted from 1 as the page's position shows them; any number may be
    // typed so that a range beyond the recording gets its message.
    first_ = new QSpinBox(this);
    first_->setObjectName(QStringLiteral("SpinExportFirst"));
    first_->setRange(1, INT_MAX);
    first_->setValue(1);
    auto *firstRow = new QHBoxLayout;
    firstRow->addWidget(first_, 1);
    firstRow->addWidget(new QLabel(QStringLiteral("of %1").arg(source_.profiles), this));
    form->addRow(QStringLiteral("First profile:"), firstRow);
    count_ = new QSpinBox(this);
    count_->setObjectName(QStringLiteral("SpinExportCount"));
    count_->setRange(0, INT_MAX);
    count_->setValue(ClampToInt(source_.profiles));
    form->addRow(QStringLiteral("Profiles:"), count_);

    auto *y = new QGridLayout;
    pitchButton_ = new QRadioButton(QStringLiteral("Pitch"), this);
    pitchButton_->setObjectName(QStringLiteral("RadioExportPitch"));
    pitchButton_->setChecked(true);
    pitch_ = new QDoubleSpinBox(this);
    pitch_->setObjectName(QStringLiteral("SpinExportPitch"));
    pitch_->setRange(-1e6, 1e6);
    pitch_->setDecimals(4);
    pitch_->setValue(1.0);
    speedButton_ = new QRadioButton(QStringLiteral("Speed"), this);
    speedButton_->setObjectName(QStringLiteral("RadioExportSpeed"));
    speed_ = new QDoubleSpinBox(this);
    speed_->setObjectName(QStringLiteral("SpinExportSpeed"));
    speed_->setRange(-1e6, 1e6);
    speed_->setDecimals(3);
    speed_->setValue(100.0);
    y->addWidget(pitchButton_, 0, 0);
    y->addWidget(pitch_, 0, 1);
    y->addWidget(new QLabel(QStringLiteral("mm per profile"), this), 0, 2);
    y->addWidget(speedButton_, 1, 0);
    y->addWidget(speed_, 1, 1);
    y->addWidget(new QLabel(QStringLiteral("mm/s (times the recorded time)"), this), 1, 2);
    form->addRow(QStringLiteral("Y along the motion:"), y);

    path_ = new QLineEdit(this);
    path_->setObjectName(QStringLiteral("EditExportPath"));
    path_->setMinimumWidth(360);
    auto *browse = new QPushButton(QStringLiteral("Browse..."), this);
    browse->setObjectName(QStringLiteral("ButtonExportBrowse"));
    auto *pathRow = new QHBoxLayout;
    pathRow->addWidget(path_);
    pathRow->addWidget(browse);
    form->addRow(QStringLiteral("File:"), pathRow);

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    ok_ = buttons->button(QDialogButtonBox::Ok);
    ok_->setText(QStringLiteral("Export"));
    form->addRow(buttons);

    connect(buttons, &QDialogButtonBox::accepted, this, &ExportDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(browse, &QPushButton::clicked, this, &ExportDialog::Browse);
    connect(path_, &QLineEdit::textEdited, this, [this] { pathEdited_ = true; });
    connect(format_, &QComboBox::currentIndexChanged, this, &ExportDialog::FormatChanged);
    connect(pitchButton_, &QRadioButton::toggled, this, [this] { FormatChanged(); });
    connect(first_, &QSpinBox::valueChanged, this, [this] {
        if (format() == ExportFormat::ProfileText)
            UpdateDefaultPath();
    });
    FormatChanged();
}

ExportFormat ExportDialog::format() const {
    return kFormats[std::clamp(format_->currentIndex(), 0, kFormatCount - 1)];
}

void ExportDialog::FormatChanged() {
    const ExportFormat f = format();
    const bool text = f == ExportFormat::ProfileText;
    if (text != wasText_) {
        // The profile text holds the profile shown now; the others the whole recording.
        first_->setValue(text ? static_cast<int>(std::max<std::int64_t>(source_.shown, 0) + 1) : 1);
        count_->setValue(text ? 1 : ClampToInt(source_.profiles));
        wasText_ = text;
    }
    count_->setEnabled(!text);
    const bool cloud = f == ExportFormat::Ply || f == ExportFormat::Pcd;
    pitchButton_->setEnabled(cloud);
    speedButton_->setEnabled(cloud);
    pitch_->setEnabled(cloud && pitchButton_->isChecked());
    speed_->setEnabled(cloud && speedButton_->isChecked());
    UpdateDefaultPath();
}

void ExportDialog::UpdateDefaultPath() {
    if (pathEdited_)
        return;
    ExportSource now = source_;
    now.shown = first_->value() - 1; // the profile text is named after its profile
    path_->setText(DefaultPath(now, format()));
}

void ExportDialog::Browse() {
    const QString chosen = QFileDialog::getSaveFileName(this, QStringLiteral("Export to"),
                                                        path_->text(), Filter(format()));
    if (!chosen.isEmpty()) {
        path_->setText(chosen);
        pathEdited_ = true;
    }
}

QString ExportDialog::DefaultPath(const ExportSource &source, ExportFormat format) {
    const QFileInfo recording(source.recordingPath);
    const QString folder =
        DefaultSaveFolder(source.recordingPath.isEmpty() ? QString() : recording.absolutePath());
    QString name = recording.completeBaseName();
    if (name.isEmpty())
        name = QStringLiteral("profiles");
    if (format == ExportFormat::ProfileText)
        name += QStringLiteral("_%1").arg(std::max<std::int64_t>(source.shown, 0) + 1, 5, 10,
                                          QLatin1Char('0'));
    if (format == ExportFormat::ResultsCsv)
        name += QStringLiteral("_results");
    return QDir(folder).filePath(name + QLatin1Char('.') + Suffix(format));
}

recording::ExportRequest ExportDialog::request() const {
    recording::ExportRequest r;
    r.format = format();
    r.first = static_cast<std::uint64_t>(first_->value() - 1);
    r.count =
        r.format == ExportFormat::ProfileText ? 1 : static_cast<std::uint64_t>(count_->value());
    r.pitchMm = pitch_->value();
    if (speedButton_->isChecked())
        r.speedMmPerS = speed_->value();
    return r;
}

QString ExportDialog::path() const {
    return path_->text().trimmed();
}

QString ExportDialog::Problem() const {
    const recording::ExportRequest r = request();
    const std::uint64_t n = source_.profiles;
    if (n == 0)
        return QStringLiteral("The recording holds no profile.");
    if (r.count == 0)
        return QStringLiteral("Give at least one profile to export.");
    if (r.first >= n)
        return QStringLiteral("Profile %1 lies beyond the %2 profiles of the recording.")
            .arg(r.first + 1)
            .arg(n);
    if (r.count > n - r.first)
        return QStringLiteral("Profiles %1 to %2 lie beyond the %3 profiles of the recording.")
            .arg(r.first + 1)
            .arg(r.first + r.count)
            .arg(n);
    if (path().isEmpty())
        return QStringLiteral("Choose the file to write.");
    if (QFileInfo(path()).isDir())
        return QStringLiteral("%1 is a folder: choose a file.").arg(path());
    return {};
}

void ExportDialog::accept() {
    const QString problem = Problem();
    if (problem.isEmpty()) {
        QDialog::accept();
        return;
    }
    auto *box = new QMessageBox(QMessageBox::Critical, QStringLiteral("QZ417-SP"), problem,
                                QMessageBox::Ok, this);
    box->setObjectName(QStringLiteral("ExportMessage"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

} // namespace qz417
