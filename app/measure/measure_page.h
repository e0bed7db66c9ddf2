// The "Measure" page: the profile of a chosen source with the regions of the
// job's tools drawn over it (drag a region's body to move it, an edge to
// resize it, in X and, where the region has a Z range, in Z), the list of
// tools and all of their setup, the results of the newest
// profile, the trend of one result over the last N profiles with its
// statistics, and the job and results files.
//
// Every profile of the bound sources is measured by a thread of its own
// (MeasureWorker); the page takes the results on a timer at no more than
// 30 Hz and never shares the job with that thread: each change hands it a
// new copy.
//
// The job the page runs carries a version (runningJob()): a new one with each
// job handed to the measuring thread and with each binding, announced by
// runningJobChanged(), so that others learn of a change when it happens.
#pragma once

#include <cstdint>
#include <functional>
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
class QLineEdit;
class QLabel;
class QListWidget;
class QPushButton;
class QScrollArea;
class QTableWidget;

namespace qz417 {

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

    // The job the measuring thread runs on the bound sources, as validated
    // and handed over (null: none, for a job without tools or sources that
    // could not be subscribed), and its version: a new one with every job
    // handed over (changed, replaced, cleared) and every binding, so one
    // version names one job on one choice of "Source:". Never 0.
    struct RunningJob {
        std::uint64_t version = 0;
        std::shared_ptr<const measure::Job> job;
    };
    RunningJob runningJob() const;

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
    // The rows setting up the selected tool (its fields are named, e.g.
    // "MeasureRegion0XMin"); rebuilt when the selection or its rows change.
    QWidget *setupPanel() const { return setup_; }
    // The rectangle of a tool's region (which 0: first, 1: second, 2 + k:
    // base region k of an edge, width or area), or null.
    QCPItemRect *regionItem(int tool, int which) const;

signals:
    // runningJob() has a new version.
    void runningJobChanged();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    struct RegionItem {
        int tool;
        int which; // 0: the region, 1: the second, 2 + k: base region k
        QCPItemRect *rect;
        QCPItemText *label;
    };
    // What a drag changes: the X edges, the Z edges, all of them for a move.
    enum DragEdge { kDragLeft = 1, kDragRight = 2, kDragLow = 4, kDragHigh = 8 };
    // A number field of the selected tool's setup: what it shows and sets.
    struct SetupField {
        QLineEdit *edit;
        QString name;          // as the message names it
        const char *emptyText; // shown when empty; "" = it must not be empty
        double emptyValue;     // what an empty field means
        bool whole;            // a whole number
        std::function<double(const measure::ToolSetup &)> get;
        std::function<void(measure::ToolSetup &, double)> set;
    };

    void RebuildTools();
    void RebuildRegions();
    void PlaceRegions();
    // The setup of the selected tool: built anew when its rows change
    // (another tool, a Z range or base region added or removed), else
    // only its values refreshed.
    void ShowToolSetup();
    void BuildSetup();
    void FillSetup();
    std::string SetupShape() const;
    // Applies a change of the selected tool's setup; on a bad value shows a
    // message naming the field and keeps the job in use.
    void ChangeTool(const std::function<void(measure::ToolSetup &)> &change);
    void CommitField(const SetupField &field);
    void RebuildTable();
    void FillTable();
    void UpdateTrend();
    void PlotLatest(const FeedPacket &packet);
    void ShowMessage(const QString &text);
    // Hands the measuring thread a copy of job (none when it has no tools)
    // under a new version; throws measure::JobError when it does not
    // validate, the job in use then staying.
    void HandJob(const measure::Job &job);
    bool WriteWhole(const QString &path, const std::string &text);
    measure::Region *RegionOf(int tool, int which);
    int LimitIndex(int tool, int output) const;
    int HitRegion(const QPointF &pos, int &edges) const;

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
    int dragEdges_ = 0;
    int dragItem_ = -1;
    double dragStartX_ = 0.0;
    double dragStartZ_ = 0.0;
    measure::Region dragStart_;

    QComboBox *sourceBox_ = nullptr;
    QLabel *counts_ = nullptr;
    QCustomPlot *profile_ = nullptr;
    QCPGraph *points_ = nullptr;
    QListWidget *toolList_ = nullptr;
    QComboBox *kindBox_ = nullptr;
    QScrollArea *setupArea_ = nullptr;
    QWidget *setup_ = nullptr; // the rows inside setupArea_
    std::string setupShape_;
    std::vector<SetupField> fields_;
    std::vector<std::function<void(const measure::ToolSetup &)>> refills_; // combos, checks
    int setupTool_ = -1;  // the tool the rows were built for
    int limitChoice_ = 0; // the output "Limit of:" shows
    QComboBox *limitOutput_ = nullptr;
    QTableWidget *table_ = nullptr;
    QCustomPlot *trendPlot_ = nullptr;
    QCPGraph *trendGraph_ = nullptr;
    QLabel *trendTitle_ = nullptr;
    QLabel *stats_ = nullptr;
};

} // namespace qz417
