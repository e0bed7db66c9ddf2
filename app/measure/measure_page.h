// The "Measure" page: the profile of a chosen source with the regions of the
// job's tools drawn over it (drag a region's body to move it, an edge to
// resize it), the list of tools and their setup, the results of the newest
// profile, the trend of one result over the last N profiles with its
// statistics, and the job and results files.
//
// Every profile of the bound sources is measured by a thread of its own
// (MeasureWorker); the page takes the results on a timer at no more than
// 30 Hz and never shares the job with that thread: each change hands it a
// new copy.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <QString>
#include <QTimer>
#include <QWidget>

#include "measure/measure_history.h"
#include "measure/measure_worker.h"
#include "model/measure/job.h"
#include "source/profile_source.h"

class QComboBox;
class QCPGraph;
class QCPItemRect;
class QCPItemText;
class QCustomPlot;
class QDoubleSpinBox;
class QLabel;
class QListWidget;
class QPushButton;
class QTableWidget;

namespace qz {

// A choice of "Source:": its name and the sources it measures.
struct MeasureBinding {
    QString name;
    std::vector<std::shared_ptr<ProfileSource>> sources;
};

class MeasurePage : public QWidget {
    Q_OBJECT

public:
    static constexpr int kDefaultDepth = 1000;
    static constexpr int kTickMs = 34; // below 30 Hz

    MeasurePage(QWidget *parent, std::vector<MeasureBinding> bindings);
    ~MeasurePage() override;

    // Binds the page to choice `index` of "Source:"; the kept results start empty.
    void Bind(int index);
    int bound() const { return bound_; }

    const measure::Job &job() const { return job_; }
    // Adds a tool of the kind in the middle of the X axis and selects it.
    void AddTool(measure::ToolKind kind);
    void RemoveTool(int index);
    void SelectTool(int index);
    // Replaces the job (validated); false and the message shown when it is
    // not valid, the old job kept.
    bool ApplyJob(measure::Job job);
    // "Load job..." and "Save job..." without the file dialog; errors shown
    // in a "QZ417-SP" message box.
    bool LoadJobFile(const QString &path);
    bool SaveJobFile(const QString &path);
    // "Export results..." without the file dialog.
    bool ExportResults(const QString &path);

    // Takes the worker's results and redraws; the timer calls it.
    void Tick();
    // The result shown in the trend (a row of the results table).
    void ChooseTrend(int tool, int output);
    const MeasureWorker &worker() const { return worker_; }
    const MeasureHistory &history() const { return history_; }
    const TrendStatistics &trend() const { return trendStats_; }

    QCustomPlot *profilePlot() const { return profile_; }
    QCustomPlot *trendPlot() const { return trendPlot_; }
    QTableWidget *resultsTable() const { return table_; }
    QListWidget *toolList() const { return toolList_; }
    QComboBox *sourceBox() const { return sourceBox_; }
    QLabel *statsLabel() const { return stats_; }
    // The rectangle of a tool's region (which 0: first, 1: second), or null.
    QCPItemRect *regionItem(int tool, int which) const;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    struct RegionItem {
        int tool;
        int which;
        QCPItemRect *rect;
        QCPItemText *label;
    };
    enum class Drag { None, Move, Left, Right };

    void SetJobInWorker();
    void RebuildTools();
    void RebuildRegions();
    void PlaceRegions();
    void ShowToolSetup();
    void ReadToolSetup();
    void RebuildTable();
    void FillTable();
    void UpdateTrend();
    void PlotLatest(const FeedPacket &packet);
    void ShowMessage(const QString &text);
    bool WriteWhole(const QString &path, const std::string &text);
    measure::Region *RegionOf(int tool, int which);
    int LimitIndex(int tool, int output) const;

    std::vector<MeasureBinding> bindings_;
    int bound_ = 0;
    MeasureWorker worker_;
    measure::Job job_;
    std::uint64_t jobVersion_ = 0;
    MeasureHistory history_{kDefaultDepth};
    bool haveLatest_ = false;
    MeasuredProfile latest_;
    std::vector<MeasuredProfile> taken_;
    FeedPacket packet_;
    int trendTool_ = -1;
    int trendOutput_ = 0;
    TrendStatistics trendStats_;
    QTimer timer_;
    bool filling_ = false; // setup controls being filled from the job
    bool axesSet_ = false;

    std::vector<RegionItem> regions_;
    Drag drag_ = Drag::None;
    int dragItem_ = -1;
    double dragStartX_ = 0.0;
    measure::Region dragStart_;

    QComboBox *sourceBox_ = nullptr;
    QLabel *counts_ = nullptr;
    QCustomPlot *profile_ = nullptr;
    QCPGraph *points_ = nullptr;
    QListWidget *toolList_ = nullptr;
    QComboBox *kindBox_ = nullptr;
    QDoubleSpinBox *xMin_ = nullptr;
    QDoubleSpinBox *xMax_ = nullptr;
    QDoubleSpinBox *x2Min_ = nullptr;
    QDoubleSpinBox *x2Max_ = nullptr;
    QLabel *paramCaption_ = nullptr;
    QDoubleSpinBox *param_ = nullptr;
    QComboBox *limitOutput_ = nullptr;
    QDoubleSpinBox *limitMin_ = nullptr;
    QDoubleSpinBox *limitMax_ = nullptr;
    QTableWidget *table_ = nullptr;
    QCustomPlot *trendPlot_ = nullptr;
    QCPGraph *trendGraph_ = nullptr;
    QLabel *trendTitle_ = nullptr;
    QLabel *stats_ = nullptr;
};

} // namespace qz
