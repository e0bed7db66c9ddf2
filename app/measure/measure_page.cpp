#include "measure/measure_page.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QLocale>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QSaveFile>
#include <QScrollArea>
#include <QTableWidget>
#include <qcustomplot.h>

#include "model/measure/result_csv.h"

namespace qz417 {

namespace {

namespace ms = measure;

constexpr int kEdgePixels = 5; // how near an edge a press resizes

QLabel *MakeLabel(QWidget *parent, const QString &text, int x, int y, int w, int h = 20) {
    auto *label = new QLabel(text, parent);
    label->setGeometry(x, y, w, h);
    return label;
}

// What an empty number field means, and the text it shows then.
struct FieldEmpty {
    const char *text;
    double value;
};
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr FieldEmpty kRequired{"", kNaN};
constexpr FieldEmpty kAuto{"auto", kNaN};
constexpr FieldEmpty kNoLow{"none", -kInf};
constexpr FieldEmpty kNoHigh{"none", kInf};
constexpr FieldEmpty kNoLimit{"none", kNaN};

// A number as a field shows it (10 significant digits); empty for none. A
// field whose text is still this changes nothing when left, so a job's
// values stay exact however they are shown.
QString FormatNumber(double v) {
    if (!std::isfinite(v))
        return QString();
    return QString::number(v, 'g', 10);
}

bool TwoRegions(ms::ToolKind kind) {
    return kind == ms::ToolKind::Step || kind == ms::ToolKind::Gap || kind == ms::ToolKind::Angle;
}

bool HasZ(const ms::Region &r) {
    return std::isfinite(r.zMin) || std::isfinite(r.zMax);
}

// The base regions of an edge or width (its level's line) or of an area
// (its base line); null for other kinds.
std::vector<ms::Region> *BaseRegions(ms::ToolSetup &t) {
    if (t.kind == ms::ToolKind::Edge || t.kind == ms::ToolKind::Width)
        return &t.levelBase;
    if (t.kind == ms::ToolKind::Area)
        return &t.areaBase;
    return nullptr;
}

// The tool's regions by number: 0 the region, 1 the second (two-region
// kinds), 2 + k base region k; null where the tool has none.
int RegionSlots(const ms::ToolSetup &t) {
    const std::vector<ms::Region> *bases = BaseRegions(const_cast<ms::ToolSetup &>(t));
    return 2 + (bases ? static_cast<int>(bases->size()) : 0);
}

ms::Region *RegionIn(ms::ToolSetup &t, int which) {
    if (which == 0)
        return &t.region;
    if (which == 1)
        return TwoRegions(t.kind) ? &t.second : nullptr;
    std::vector<ms::Region> *bases = BaseRegions(t);
    const auto k = static_cast<std::size_t>(which - 2);
    return bases != nullptr && which >= 2 && k < bases->size() ? &(*bases)[k] : nullptr;
}

const ms::Region *RegionIn(const ms::ToolSetup &t, int which) {
    return RegionIn(const_cast<ms::ToolSetup &>(t), which);
}

// As the setup's captions and messages name the region.
QString RegionTitle(int which) {
    if (which == 0)
        return QStringLiteral("Region");
    if (which == 1)
        return QStringLiteral("Second");
    return QStringLiteral("Base %1").arg(which - 1);
}

// A region as wide as r beside it on the left (on the right near the
// coordinate limit): where a new base region starts.
ms::Region BesideRegion(const ms::Region &r) {
    const double w = r.xMax - r.xMin;
    if (r.xMin - w >= -ms::kCoordinateLimitMm)
        return {r.xMin - w, r.xMin};
    return {r.xMax, std::min(r.xMax + w, ms::kCoordinateLimitMm)};
}

// What is wrong with tool `index` of job, naming the field as the setup
// shows it; empty when the page finds nothing (the library checks the rest).
QString CheckTool(const ms::Job &job, std::size_t index) {
    const ms::ToolSetup &t = job.tools[index];
    if (t.name.empty())
        return QStringLiteral("Name is empty");
    for (const char c : t.name)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            return QStringLiteral("Name holds a control character");
    for (std::size_t k = 0; k < job.tools.size(); ++k)
        if (k != index && job.tools[k].name == t.name)
            return QStringLiteral("Name \"%1\" is already used by another tool")
                .arg(QString::fromStdString(t.name));
    for (int which = 0; which < RegionSlots(t); ++which) {
        const ms::Region *r = RegionIn(t, which);
        if (r == nullptr)
            continue;
        if (!(r->xMin < r->xMax))
            return QStringLiteral("%1 X: min %2 is not below max %3")
                .arg(RegionTitle(which), FormatNumber(r->xMin), FormatNumber(r->xMax));
        if (HasZ(*r) && !(r->zMin < r->zMax))
            return QStringLiteral("%1 Z: min %2 is not below max %3")
                .arg(RegionTitle(which), FormatNumber(r->zMin), FormatNumber(r->zMax));
    }
    for (const ms::Limit &l : t.limits)
        if (l.min > l.max)
            return QStringLiteral("Limit of %1: min %2 is above max %3")
                .arg(QString::fromLatin1(
                         ms::InfoOf(t.kind).outputs[static_cast<std::size_t>(l.output)].name),
                     FormatNumber(l.min), FormatNumber(l.max));
    return QString();
}

QColor ToolColour(int tool) {
    static const QColor colours[] = {QColor(0x1f, 0x77, 0xb4), QColor(0xff, 0x7f, 0x0e),
                                     QColor(0x2c, 0xa0, 0x2c), QColor(0x94, 0x67, 0xbd),
                                     QColor(0x8c, 0x56, 0x4b), QColor(0xe3, 0x77, 0xc2)};
    return colours[tool % 6];
}

const QColor kPassColour(0xc6, 0xef, 0xc6);
const QColor kFailColour(0xf4, 0xb8, 0xb8);
const QColor kNoResultColour(0xd9, 0xd9, 0xd9);

QString Number(double v) {
    return QString::number(v, 'f', 3);
}

QString LimitText(const ms::Limit &l) {
    const bool lo = std::isfinite(l.min), hi = std::isfinite(l.max);
    if (lo && hi)
        return Number(l.min) + QStringLiteral(" .. ") + Number(l.max);
    if (lo)
        return QStringLiteral(">= ") + Number(l.min);
    if (hi)
        return QStringLiteral("<= ") + Number(l.max);
    return QString();
}

} // namespace

MeasurePage::MeasurePage(QWidget *parent, std::vector<MeasureBinding> bindings)
    : QWidget(parent), bindings_(std::move(bindings)) {
    MakeLabel(this, QStringLiteral("Source:"), 4, 2, 46);
    sourceBox_ = new QComboBox(this);
    sourceBox_->setObjectName(QStringLiteral("MeasureSource"));
    sourceBox_->setGeometry(52, 1, 120, 22);
    for (const auto &b : bindings_)
        sourceBox_->addItem(b.name);
    counts_ = MakeLabel(this, QString(), 180, 2, 240);
    counts_->setObjectName(QStringLiteral("MeasureCounts"));

    profile_ = new QCustomPlot(this);
    profile_->setObjectName(QStringLiteral("MeasureProfile"));
    profile_->setGeometry(0, 24, 420, 270);
    profile_->xAxis->setLabel(QStringLiteral("X, mm"));
    profile_->yAxis->setLabel(QStringLiteral("Z, mm"));
    profile_->xAxis->setRange(-120, 120);
    profile_->yAxis->setRange(0, 260);
    points_ = profile_->addGraph();
    points_->setLineStyle(QCPGraph::lsNone);
    points_->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssDisc, QColor(0x20, 0x20, 0x20), 2));
    profile_->setMouseTracking(true);
    profile_->installEventFilter(this);

    constexpr int kRight = 424;
    toolList_ = new QListWidget(this);
    toolList_->setObjectName(QStringLiteral("MeasureTools"));
    toolList_->setGeometry(kRight, 24, 220, 62);
    connect(toolList_, &QListWidget::currentRowChanged, this, [this](int) { ShowToolSetup(); });
    kindBox_ = new QComboBox(this);
    kindBox_->setObjectName(QStringLiteral("MeasureKind"));
    kindBox_->setGeometry(kRight, 90, 96, 22);
    for (int k = 0; k < ms::kToolKinds; ++k)
        kindBox_->addItem(QString::fromLatin1(ms::InfoOf(static_cast<ms::ToolKind>(k)).name));
    auto *add = new QPushButton(QStringLiteral("Add"), this);
    add->setObjectName(QStringLiteral("MeasureAdd"));
    add->setGeometry(kRight + 100, 90, 58, 22);
    connect(add, &QPushButton::clicked, this,
            [this] { AddTool(static_cast<ms::ToolKind>(kindBox_->currentIndex())); });
    auto *remove = new QPushButton(QStringLiteral("Remove"), this);
    remove->setObjectName(QStringLiteral("MeasureRemove"));
    remove->setGeometry(kRight + 162, 90, 58, 22);
    connect(remove, &QPushButton::clicked, this, [this] { RemoveTool(toolList_->currentRow()); });

    // The selected tool's setup: as many rows as its kind has, scrolled.
    setupArea_ = new QScrollArea(this);
    setupArea_->setObjectName(QStringLiteral("MeasureSetup"));
    setupArea_->setGeometry(kRight, 116, 220, 152);
    setupArea_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setupArea_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setupArea_->setFrameShape(QFrame::NoFrame);
    setupArea_->setWidgetResizable(true); // the rows as wide as the area

    auto *load = new QPushButton(QStringLiteral("Load job..."), this);
    load->setObjectName(QStringLiteral("MeasureLoadJob"));
    load->setGeometry(kRight, 272, 108, 22);
    connect(load, &QPushButton::clicked, this, [this] {
        const QString path = QFileDialog::getOpenFileName(
            this, QStringLiteral("Load job"), QString(), QStringLiteral("Job (*.json);;All (*)"));
        if (!path.isEmpty())
            LoadJobFile(path);
    });
    auto *save = new QPushButton(QStringLiteral("Save job..."), this);
    save->setObjectName(QStringLiteral("MeasureSaveJob"));
    save->setGeometry(kRight + 112, 272, 108, 22);
    connect(save, &QPushButton::clicked, this, [this] {
        const QString path = QFileDialog::getSaveFileName(
            this, QStringLiteral("Save job"), QString(), QStringLiteral("Job (*.json);;All (*)"));
        if (!path.isEmpty())
            SaveJobFile(path);
    });

    table_ = new QTableWidget(0, 6, this);
    table_->setObjectName(QStringLiteral("MeasureResults"));
    table_->setGeometry(0, 298, 646, 150);
    table_->setHorizontalHeaderLabels({QStringLiteral("Tool"), QStringLiteral("Output"),
                                       QStringLiteral("Value"), QStringLiteral("Unit"),
                                       QStringLiteral("Limits"), QStringLiteral("State")});
    table_->verticalHeader()->setVisible(false);
    table_->verticalHeader()->setDefaultSectionSize(20);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    // A click chooses the trend (named above it); no selection hides the
    // row's pass or fail colour.
    table_->setSelectionMode(QAbstractItemView::NoSelection);
    const int widths[] = {90, 80, 90, 50, 120};
    for (int c = 0; c < 5; ++c)
        table_->setColumnWidth(c, widths[c]);
    table_->horizontalHeader()->setStretchLastSection(true);
    connect(table_, &QTableWidget::cellClicked, this, [this](int row, int) {
        const QTableWidgetItem *item = table_->item(row, 0);
        if (item != nullptr)
            ChooseTrend(item->data(Qt::UserRole).toInt(), item->data(Qt::UserRole + 1).toInt());
    });

    trendTitle_ = MakeLabel(this, QStringLiteral("Trend: click a result"), 4, 450, 416, 18);
    trendTitle_->setObjectName(QStringLiteral("MeasureTrendTitle"));
    trendPlot_ = new QCustomPlot(this);
    trendPlot_->setObjectName(QStringLiteral("MeasureTrend"));
    trendPlot_->setGeometry(0, 468, 420, 112);
    trendPlot_->xAxis->setLabel(QStringLiteral("Profiles ago"));
    trendGraph_ = trendPlot_->addGraph();
    trendGraph_->setPen(QPen(QColor(0x1f, 0x77, 0xb4)));
    stats_ = MakeLabel(this, QString(), kRight, 452, 220, 100);
    stats_->setObjectName(QStringLiteral("MeasureStatistics"));
    stats_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    auto *exportButton = new QPushButton(QStringLiteral("Export results..."), this);
    exportButton->setObjectName(QStringLiteral("MeasureExport"));
    exportButton->setGeometry(kRight, 556, 220, 22);
    connect(exportButton, &QPushButton::clicked, this, [this] {
        const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Export results"),
                                                          QString(), QStringLiteral("CSV (*.csv)"));
        if (!path.isEmpty())
            ExportResults(path);
    });

    connect(sourceBox_, &QComboBox::currentIndexChanged, this, [this](int i) { Bind(i); });
    ShowToolSetup();
    Bind(0);
    connect(&timer_, &QTimer::timeout, this, &MeasurePage::Tick);
    timer_.start(kTickMs);
}

MeasurePage::~MeasurePage() {
    timer_.stop();
    worker_.Stop();
}

void MeasurePage::Bind(int index) {
    if (index < 0 || index >= static_cast<int>(bindings_.size()))
        return;
    worker_.Stop();
    bound_ = index;
    // A new version: results of the old binding the worker made and the page
    // has not taken yet are left out, and others learn of the binding.
    HandJob(job_);
    history_.Clear();
    haveLatest_ = false;
    axesSet_ = false;
    if (sourceBox_->currentIndex() != index) {
        // Shown without binding a second time.
        const QSignalBlocker block(sourceBox_);
        sourceBox_->setCurrentIndex(index);
    }
    if (!worker_.Start(bindings_[static_cast<std::size_t>(index)].sources))
        counts_->setText(QStringLiteral("Too many subscribers to the source"));
    emit runningJobChanged();
}

MeasurePage::RunningJob MeasurePage::runningJob() const {
    return {jobVersion_, worker_.running() ? worker_.job() : nullptr};
}

void MeasurePage::HandJob(const ms::Job &job) {
    jobVersion_ = worker_.SetJob(job.tools.empty() ? std::nullopt : std::optional(job));
}

QCPItemRect *MeasurePage::regionItem(int tool, int which) const {
    for (const auto &r : regions_)
        if (r.tool == tool && r.which == which)
            return r.rect;
    return nullptr;
}

ms::Region *MeasurePage::RegionOf(int tool, int which) {
    if (tool < 0 || tool >= static_cast<int>(job_.tools.size()))
        return nullptr;
    return RegionIn(job_.tools[static_cast<std::size_t>(tool)], which);
}

int MeasurePage::LimitIndex(int tool, int output) const {
    if (tool < 0 || tool >= static_cast<int>(job_.tools.size()))
        return -1;
    const auto &limits = job_.tools[static_cast<std::size_t>(tool)].limits;
    for (std::size_t l = 0; l < limits.size(); ++l)
        if (limits[l].output == output)
            return static_cast<int>(l);
    return -1;
}

void MeasurePage::ShowMessage(const QString &text) {
    auto *box = new QMessageBox(QMessageBox::Warning, QStringLiteral("QZ417-SP"), text,
                                QMessageBox::Ok, this);
    box->setObjectName(QStringLiteral("MeasureMessage"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

bool MeasurePage::ApplyJob(ms::Job job) {
    const bool sameShape =
        job.tools.size() == job_.tools.size() &&
        std::equal(job.tools.begin(), job.tools.end(), job_.tools.begin(),
                   [](const ms::ToolSetup &a, const ms::ToolSetup &b) { return a.kind == b.kind; });
    try {
        HandJob(job);
    } catch (const ms::JobError &e) {
        ShowMessage(QString::fromStdString(e.what()));
        return false;
    }
    job_ = std::move(job);
    if (!sameShape) {
        // Results of another list of tools do not fit the table or the file.
        history_.Clear();
        haveLatest_ = false;
        if (trendTool_ >= static_cast<int>(job_.tools.size()))
            trendTool_ = -1;
    }
    // Names and base regions may have changed with the same kinds of tools.
    const int row = toolList_->currentRow();
    RebuildTools();
    {
        const QSignalBlocker block(toolList_);
        toolList_->setCurrentRow(std::min(row, static_cast<int>(job_.tools.size()) - 1));
    }
    RebuildRegions();
    RebuildTable();
    ShowToolSetup();
    UpdateTrend();
    emit runningJobChanged();
    return true;
}

void MeasurePage::AddTool(ms::ToolKind kind) {
    ms::Job job = job_;
    ms::ToolSetup setup;
    setup.kind = kind;
    const std::string base = ms::InfoOf(kind).name;
    for (int n = 1;; ++n) {
        setup.name = base + std::to_string(n);
        if (std::none_of(job.tools.begin(), job.tools.end(),
                         [&](const ms::ToolSetup &t) { return t.name == setup.name; }))
            break;
    }
    const QCPRange x = profile_->xAxis->range();
    const double w = x.size() / 8;
    if (TwoRegions(kind)) {
        setup.region = {x.center() - 2 * w, x.center() - w / 2};
        setup.second = {x.center() + w / 2, x.center() + 2 * w};
    } else {
        setup.region = {x.center() - w, x.center() + w};
    }
    if (kind == ms::ToolKind::Edge || kind == ms::ToolKind::Width)
        setup.level = profile_->yAxis->range().center();
    job.tools.push_back(setup);
    if (ApplyJob(std::move(job)))
        toolList_->setCurrentRow(static_cast<int>(job_.tools.size()) - 1);
}

void MeasurePage::RemoveTool(int index) {
    if (index < 0 || index >= static_cast<int>(job_.tools.size()))
        return;
    ms::Job job = job_;
    job.tools.erase(job.tools.begin() + index);
    if (trendTool_ == index)
        trendTool_ = -1;
    else if (trendTool_ > index)
        --trendTool_;
    ApplyJob(std::move(job));
}

void MeasurePage::SelectTool(int index) {
    toolList_->setCurrentRow(index);
}

bool MeasurePage::LoadJobFile(const QString &path) {
    ms::Job job;
    try {
        job = ms::LoadJob(path.toStdString());
    } catch (const std::exception &e) {
        ShowMessage(QString::fromStdString(e.what()));
        return false;
    }
    // Another file: the kept results belong to the old job, even when its
    // tools are of the same kinds.
    history_.Clear();
    haveLatest_ = false;
    trendTool_ = -1;
    return ApplyJob(std::move(job));
}

bool MeasurePage::SaveJobFile(const QString &path) {
    if (job_.tools.empty()) {
        ShowMessage(QStringLiteral("The job has no tools"));
        return false;
    }
    return WriteWhole(path, ms::JobToJson(job_));
}

bool MeasurePage::ExportResults(const QString &path) {
    if (job_.tools.empty()) {
        ShowMessage(QStringLiteral("The job has no tools"));
        return false;
    }
    std::string text = ms::ResultCsvHeader(job_);
    for (const auto &p : history_.kept())
        ms::AppendResultCsvRow(text, job_, p.sequence, p.measurement, p.result);
    return WriteWhole(path, text);
}

bool MeasurePage::WriteWhole(const QString &path, const std::string &text) {
    // Written beside and renamed over: a failed write leaves no part file.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(text.data(), static_cast<qint64>(text.size())) !=
            static_cast<qint64>(text.size()) ||
        !file.commit()) {
        ShowMessage(QStringLiteral("Cannot write %1: %2").arg(path, file.errorString()));
        return false;
    }
    return true;
}

void MeasurePage::RebuildTools() {
    const QSignalBlocker block(toolList_);
    toolList_->clear();
    for (const auto &t : job_.tools)
        toolList_->addItem(QString::fromStdString(t.name) + QStringLiteral(" (") +
                           QString::fromLatin1(ms::InfoOf(t.kind).name) + QStringLiteral(")"));
}

void MeasurePage::RebuildRegions() {
    for (const auto &r : regions_) {
        profile_->removeItem(r.rect);
        profile_->removeItem(r.label);
    }
    regions_.clear();
    for (std::size_t t = 0; t < job_.tools.size(); ++t) {
        ms::ToolSetup &setup = job_.tools[t];
        const bool two = TwoRegions(setup.kind);
        for (int which = 0; which < RegionSlots(setup); ++which) {
            if (RegionIn(setup, which) == nullptr)
                continue;
            const QColor colour = ToolColour(static_cast<int>(t));
            auto *rect = new QCPItemRect(profile_);
            rect->setPen(QPen(colour, 1, which >= 2 ? Qt::DashLine : Qt::SolidLine));
            QColor fill = colour;
            fill.setAlpha(which >= 2 ? 25 : 50);
            rect->setBrush(fill);
            for (QCPItemPosition *p : {rect->topLeft, rect->bottomRight})
                p->setTypeX(QCPItemPosition::ptPlotCoords);
            auto *label = new QCPItemText(profile_);
            label->setColor(colour);
            label->position->setTypeX(QCPItemPosition::ptPlotCoords);
            label->position->setTypeY(QCPItemPosition::ptAxisRectRatio);
            label->setPositionAlignment(Qt::AlignHCenter | Qt::AlignTop);
            QString text = QString::fromStdString(setup.name);
            if (which >= 2)
                text += QStringLiteral(" base") + QString::number(which - 1);
            else if (two)
                text += QString::number(which + 1);
            label->setText(text);
            regions_.push_back({static_cast<int>(t), which, rect, label});
        }
    }
    PlaceRegions();
}

void MeasurePage::PlaceRegions() {
    for (const auto &r : regions_) {
        const ms::Region *region = RegionOf(r.tool, r.which);
        if (region == nullptr)
            continue;
        // The full height of the chart, or the Z range where the region has one.
        const auto place = [](QCPItemPosition *p, double x, double z, double ratio) {
            if (std::isfinite(z)) {
                p->setTypeY(QCPItemPosition::ptPlotCoords);
                p->setCoords(x, z);
            } else {
                p->setTypeY(QCPItemPosition::ptAxisRectRatio);
                p->setCoords(x, ratio);
            }
        };
        place(r.rect->topLeft, region->xMin, region->zMax, 0.0);
        place(r.rect->bottomRight, region->xMax, region->zMin, 1.0);
        // Staggered, so that the names of regions over each other stay readable.
        const double row = static_cast<double>(&r - regions_.data()) * 0.07;
        r.label->position->setCoords((region->xMin + region->xMax) / 2, 0.01 + std::fmod(row, 0.5));
    }
    if (isVisible())
        profile_->replot(QCustomPlot::rpQueuedReplot);
}

void MeasurePage::ShowToolSetup() {
    if (setupShape_ != SetupShape())
        BuildSetup();
    else
        FillSetup();
}

std::string MeasurePage::SetupShape() const {
    const int tool = toolList_->currentRow();
    if (tool < 0 || tool >= static_cast<int>(job_.tools.size()))
        return "none";
    const ms::ToolSetup &setup = job_.tools[static_cast<std::size_t>(tool)];
    std::string shape = std::to_string(tool) + ":" + ms::InfoOf(setup.kind).name + ":";
    for (int which = 0; which < RegionSlots(setup); ++which)
        if (const ms::Region *r = RegionIn(setup, which))
            shape += HasZ(*r) ? 'z' : 'x';
    return shape;
}

void MeasurePage::BuildSetup() {
    const int previousTool = setupTool_;
    fields_.clear();
    refills_.clear();
    limitOutput_ = nullptr;
    if (QWidget *old = setupArea_->takeWidget())
        old->deleteLater(); // a field of it may be emitting the change that rebuilds it
    setup_ = new QWidget;
    setup_->setObjectName(QStringLiteral("MeasureSetupRows"));
    auto *grid = new QGridLayout(setup_);
    grid->setContentsMargins(0, 0, 2, 0);
    grid->setHorizontalSpacing(4);
    grid->setVerticalSpacing(2);
    grid->setColumnMinimumWidth(0, 70);
    setupShape_ = SetupShape();
    const int tool = toolList_->currentRow();
    setupTool_ = tool;
    if (tool < 0 || tool >= static_cast<int>(job_.tools.size())) {
        grid->addWidget(new QLabel(QStringLiteral("Add or select a tool"), setup_), 0, 0, 1, 3);
        setupArea_->setWidget(setup_);
        return;
    }
    const ms::ToolSetup &setup = job_.tools[static_cast<std::size_t>(tool)];
    int row = 0;
    const auto caption = [&](const QString &text) {
        grid->addWidget(new QLabel(text, setup_), row, 0);
    };
    // A number field in column 1 (or 2), named and bound to the setup.
    const auto field = [&](const QString &object, const QString &name, int column,
                           const FieldEmpty &empty, auto get, auto set, bool whole = false) {
        auto *edit = new QLineEdit(setup_);
        edit->setObjectName(object);
        edit->setMinimumWidth(20);
        edit->setPlaceholderText(QString::fromLatin1(empty.text));
        // A field alone on its row takes both columns.
        const bool alone = column == 1 && !object.endsWith(QLatin1String("Min"));
        grid->addWidget(edit, row, column, 1, alone ? 2 : 1);
        fields_.push_back({edit, name, empty.text, empty.value, whole, get, set});
        connect(edit, &QLineEdit::editingFinished, this, [this, edit] {
            for (const SetupField &f : fields_)
                if (f.edit == edit)
                    return CommitField(f);
        });
    };
    // Combo boxes and check boxes are refilled from the job too (a refused
    // change shows the job's state again).
    const auto combo = [&](const QString &object, const QStringList &items, auto current,
                           auto apply) {
        auto *box = new QComboBox(setup_);
        box->setObjectName(object);
        box->addItems(items);
        grid->addWidget(box, row, 1, 1, 2);
        refills_.push_back(
            [box, current](const ms::ToolSetup &t) { box->setCurrentIndex(current(t)); });
        connect(box, &QComboBox::currentIndexChanged, this, [this, apply](int index) {
            if (!filling_)
                ChangeTool([&](ms::ToolSetup &t) { apply(t, index); });
        });
        return box;
    };
    const auto check = [&](const QString &object, const QString &text, auto on, auto apply) {
        auto *box = new QCheckBox(text, setup_);
        box->setObjectName(object);
        grid->addWidget(box, row, 0, 1, 3);
        refills_.push_back([box, on](const ms::ToolSetup &t) { box->setChecked(on(t)); });
        connect(box, &QCheckBox::toggled, this, [this, apply](bool checked) {
            if (!filling_)
                ChangeTool([&](ms::ToolSetup &t) { apply(t, checked); });
        });
    };
    const auto button = [&](const QString &object, const QString &text, int column, auto apply) {
        auto *b = new QPushButton(text, setup_);
        b->setObjectName(object);
        grid->addWidget(b, row, column);
        connect(b, &QPushButton::clicked, this,
                [this, apply] { ChangeTool([&](ms::ToolSetup &t) { apply(t); }); });
    };

    caption(QStringLiteral("Name:"));
    auto *name = new QLineEdit(QString::fromStdString(setup.name), setup_);
    name->setObjectName(QStringLiteral("MeasureName"));
    grid->addWidget(name, row++, 1, 1, 2);
    connect(name, &QLineEdit::editingFinished, this, [this, name] {
        const std::string text = name->text().toStdString();
        const int tool = toolList_->currentRow();
        if (filling_ || tool < 0 || tool >= static_cast<int>(job_.tools.size()) ||
            job_.tools[static_cast<std::size_t>(tool)].name == text)
            return;
        ChangeTool([&](ms::ToolSetup &t) { t.name = text; });
    });

    for (int which = 0; which < RegionSlots(setup); ++which) {
        const ms::Region *region = RegionIn(setup, which);
        if (region == nullptr)
            continue;
        const QString title = RegionTitle(which);
        const QString prefix = QStringLiteral("MeasureRegion%1").arg(which);
        caption(title + QStringLiteral(" X:"));
        const auto bound = [which](double ms::Region::*member) {
            return std::pair{
                [which, member](const ms::ToolSetup &t) { return RegionIn(t, which)->*member; },
                [which, member](ms::ToolSetup &t, double v) { RegionIn(t, which)->*member = v; }};
        };
        auto [getXMin, setXMin] = bound(&ms::Region::xMin);
        auto [getXMax, setXMax] = bound(&ms::Region::xMax);
        field(prefix + QStringLiteral("XMin"), title + QStringLiteral(" X min"), 1, kRequired,
              getXMin, setXMin);
        field(prefix + QStringLiteral("XMax"), title + QStringLiteral(" X max"), 2, kRequired,
              getXMax, setXMax);
        ++row;
        check(
            prefix + QStringLiteral("UseZ"), QStringLiteral("Use Z range"),
            [which](const ms::ToolSetup &t) { return HasZ(*RegionIn(t, which)); },
            [this, which](ms::ToolSetup &t, bool on) {
                ms::Region *r = RegionIn(t, which);
                if (on) {
                    const QCPRange z = profile_->yAxis->range();
                    r->zMin = z.center() - z.size() / 4;
                    r->zMax = z.center() + z.size() / 4;
                } else {
                    r->zMin = -std::numeric_limits<double>::infinity();
                    r->zMax = std::numeric_limits<double>::infinity();
                }
            });
        ++row;
        if (HasZ(*region)) {
            caption(title + QStringLiteral(" Z:"));
            auto [getZMin, setZMin] = bound(&ms::Region::zMin);
            auto [getZMax, setZMax] = bound(&ms::Region::zMax);
            field(prefix + QStringLiteral("ZMin"), title + QStringLiteral(" Z min"), 1, kNoLow,
                  getZMin, setZMin);
            field(prefix + QStringLiteral("ZMax"), title + QStringLiteral(" Z max"), 2, kNoHigh,
                  getZMax, setZMax);
            ++row;
        }
    }

    const bool edgeOrWidth = setup.kind == ms::ToolKind::Edge || setup.kind == ms::ToolKind::Width;
    if (edgeOrWidth) {
        caption(QStringLiteral("Level, mm:"));
        field(
            QStringLiteral("MeasureLevel"), QStringLiteral("Level"), 1, kRequired,
            [](const ms::ToolSetup &t) { return t.level; },
            [](ms::ToolSetup &t, double v) { t.level = v; });
        ++row;
    }
    if (setup.kind == ms::ToolKind::Edge) {
        caption(QStringLiteral("Direction:"));
        combo(
            QStringLiteral("MeasureDirection"),
            {QStringLiteral("rising"), QStringLiteral("falling"), QStringLiteral("any")},
            [](const ms::ToolSetup &t) { return static_cast<int>(t.direction); },
            [](ms::ToolSetup &t, int i) { t.direction = static_cast<ms::EdgeDirection>(i); });
        ++row;
        caption(QStringLiteral("Pick:"));
        combo(
            QStringLiteral("MeasurePick"), {QStringLiteral("first"), QStringLiteral("last")},
            [](const ms::ToolSetup &t) { return static_cast<int>(t.pick); },
            [](ms::ToolSetup &t, int i) { t.pick = static_cast<ms::EdgePick>(i); });
        ++row;
    }
    if (setup.kind == ms::ToolKind::Width) {
        caption(QStringLiteral("Polarity:"));
        combo(
            QStringLiteral("MeasurePolarity"), {QStringLiteral("bead"), QStringLiteral("groove")},
            [](const ms::ToolSetup &t) { return static_cast<int>(t.polarity); },
            [](ms::ToolSetup &t, int i) { t.polarity = static_cast<ms::Polarity>(i); });
        ++row;
    }
    if (setup.kind == ms::ToolKind::Gap) {
        caption(QStringLiteral("Tolerance:"));
        field(
            QStringLiteral("MeasureTolerance"), QStringLiteral("Tolerance"), 1, kRequired,
            [](const ms::ToolSetup &t) { return t.gapTolerance; },
            [](ms::ToolSetup &t, double v) { t.gapTolerance = v; });
        ++row;
    }
    if (setup.kind == ms::ToolKind::Step) {
        caption(QStringLiteral("Reference X:"));
        field(
            QStringLiteral("MeasureReferenceX"), QStringLiteral("Reference X"), 1, kAuto,
            [](const ms::ToolSetup &t) { return t.referenceX; },
            [](ms::ToolSetup &t, double v) { t.referenceX = v; });
        ++row;
    }
    if (setup.kind == ms::ToolKind::Height || setup.kind == ms::ToolKind::Line ||
        setup.kind == ms::ToolKind::Angle) {
        // These kinds have no parameter of their own (the fit's are below).
        caption(QStringLiteral("Parameter:"));
        grid->addWidget(new QLabel(QStringLiteral("none"), setup_), row++, 1, 1, 2);
    }
    const std::vector<ms::Region> *bases = BaseRegions(const_cast<ms::ToolSetup &>(setup));
    if (setup.kind == ms::ToolKind::Area) {
        caption(QStringLiteral("Base:"));
        combo(
            QStringLiteral("MeasureAreaBase"),
            {QStringLiteral("fitted on regions"), QStringLiteral("fixed line")},
            [](const ms::ToolSetup &t) { return t.areaBase.empty() ? 1 : 0; },
            [](ms::ToolSetup &t, int i) {
                if (i == 1)
                    t.areaBase.clear();
                else if (t.areaBase.empty())
                    t.areaBase.push_back(BesideRegion(t.region));
            });
        ++row;
        if (setup.areaBase.empty()) {
            caption(QStringLiteral("Base angle:"));
            field(
                QStringLiteral("MeasureBaseAngle"), QStringLiteral("Base angle"), 1, kRequired,
                [](const ms::ToolSetup &t) { return t.baseAngleDeg; },
                [](ms::ToolSetup &t, double v) { t.baseAngleDeg = v; });
            ++row;
            caption(QStringLiteral("Base Z, mm:"));
            field(
                QStringLiteral("MeasureBaseOffset"), QStringLiteral("Base Z"), 1, kRequired,
                [](const ms::ToolSetup &t) { return t.baseOffset; },
                [](ms::ToolSetup &t, double v) { t.baseOffset = v; });
            ++row;
        }
    }
    if (bases != nullptr) {
        // Base regions: the level of an edge or width is relative to the
        // line fitted on them (absolute without), an area's base line is
        // fitted on them.
        caption(QStringLiteral("Base regions:"));
        button(QStringLiteral("MeasureAddBase"), QStringLiteral("Add"), 1, [](ms::ToolSetup &t) {
            std::vector<ms::Region> *b = BaseRegions(t);
            b->push_back(BesideRegion(b->empty() ? t.region : b->back()));
        });
        button(QStringLiteral("MeasureRemoveBase"), QStringLiteral("Remove"), 2,
               [](ms::ToolSetup &t) {
                   std::vector<ms::Region> *b = BaseRegions(t);
                   if (!b->empty())
                       b->pop_back();
               });
        ++row;
    }
    // The robust line fit, where the tool fits lines.
    const bool fits = setup.kind == ms::ToolKind::Line || TwoRegions(setup.kind) ||
                      (bases != nullptr && !bases->empty());
    if (fits) {
        caption(QStringLiteral("Reject sigma:"));
        field(
            QStringLiteral("MeasureRejectSigma"), QStringLiteral("Reject sigma"), 1, kRequired,
            [](const ms::ToolSetup &t) { return t.fit.rejectSigma; },
            [](ms::ToolSetup &t, double v) { t.fit.rejectSigma = v; });
        ++row;
        caption(QStringLiteral("Iterations:"));
        field(
            QStringLiteral("MeasureIterations"), QStringLiteral("Iterations"), 1, kRequired,
            [](const ms::ToolSetup &t) { return static_cast<double>(t.fit.maxIterations); },
            [](ms::ToolSetup &t, double v) { t.fit.maxIterations = static_cast<int>(v); }, true);
        ++row;
        check(
            QStringLiteral("MeasureFitLevel"), QStringLiteral("Fit level lines"),
            [](const ms::ToolSetup &t) { return t.fit.level; },
            [](ms::ToolSetup &t, bool on) { t.fit.level = on; });
        ++row;
    }

    caption(QStringLiteral("Limit of:"));
    limitOutput_ = new QComboBox(setup_);
    limitOutput_->setObjectName(QStringLiteral("MeasureLimitOutput"));
    const ms::ToolInfo &info = ms::InfoOf(setup.kind);
    for (int k = 0; k < info.outputCount; ++k)
        limitOutput_->addItem(QString::fromLatin1(info.outputs[static_cast<std::size_t>(k)].name));
    grid->addWidget(limitOutput_, row++, 1, 1, 2);
    // The same tool set up anew (a region's Z range added, a change refused)
    // keeps the output chosen.
    if (tool == previousTool && limitChoice_ < info.outputCount)
        limitOutput_->setCurrentIndex(limitChoice_);
    limitChoice_ = limitOutput_->currentIndex();
    connect(limitOutput_, &QComboBox::currentIndexChanged, this, [this](int index) {
        limitChoice_ = index;
        FillSetup();
    });
    caption(QStringLiteral("Min / max:"));
    const auto limitBound = [this](double ms::Limit::*member) {
        return std::pair{[this, member](const ms::ToolSetup &t) {
                             const int output = limitOutput_->currentIndex();
                             for (const ms::Limit &l : t.limits)
                                 if (l.output == output)
                                     return l.*member;
                             return std::numeric_limits<double>::quiet_NaN();
                         },
                         [this, member](ms::ToolSetup &t, double v) {
                             const int output = limitOutput_->currentIndex();
                             auto l = std::find_if(
                                 t.limits.begin(), t.limits.end(),
                                 [&](const ms::Limit &x) { return x.output == output; });
                             if (l == t.limits.end())
                                 l = t.limits.insert(t.limits.end(), ms::Limit{output});
                             (*l).*member = v;
                             if (std::isnan(l->min) && std::isnan(l->max))
                                 t.limits.erase(l);
                         }};
    };
    auto [getMin, setMin] = limitBound(&ms::Limit::min);
    auto [getMax, setMax] = limitBound(&ms::Limit::max);
    field(QStringLiteral("MeasureLimitMin"), QStringLiteral("Limit min"), 1, kNoLimit, getMin,
          setMin);
    field(QStringLiteral("MeasureLimitMax"), QStringLiteral("Limit max"), 2, kNoLimit, getMax,
          setMax);
    ++row;
    grid->setRowStretch(row, 1);
    setupArea_->setWidget(setup_);
    FillSetup();
}

void MeasurePage::FillSetup() {
    const int tool = toolList_->currentRow();
    if (tool < 0 || tool >= static_cast<int>(job_.tools.size()))
        return;
    const ms::ToolSetup &setup = job_.tools[static_cast<std::size_t>(tool)];
    filling_ = true;
    for (const SetupField &f : fields_)
        f.edit->setText(FormatNumber(f.get(setup)));
    for (const auto &refill : refills_)
        refill(setup);
    if (auto *name = setup_->findChild<QLineEdit *>(QStringLiteral("MeasureName")))
        name->setText(QString::fromStdString(setup.name));
    filling_ = false;
}

void MeasurePage::CommitField(const SetupField &field) {
    if (filling_)
        return;
    const int tool = toolList_->currentRow();
    if (tool < 0 || tool >= static_cast<int>(job_.tools.size()))
        return;
    const QString text = field.edit->text().trimmed();
    if (text == FormatNumber(field.get(job_.tools[static_cast<std::size_t>(tool)])))
        return; // as shown: unchanged
    double value = field.emptyValue;
    QString problem;
    if (text.isEmpty()) {
        if (field.emptyText[0] == '\0')
            problem = QStringLiteral("is empty: enter a number");
    } else {
        // The C locale's point, or the user's own decimal separator.
        bool ok = false;
        QLocale c = QLocale::c();
        c.setNumberOptions(QLocale::RejectGroupSeparator);
        value = c.toDouble(text, &ok);
        if (!ok) {
            QLocale own;
            own.setNumberOptions(QLocale::RejectGroupSeparator);
            value = own.toDouble(text, &ok);
        }
        if (!ok || !std::isfinite(value))
            problem = QStringLiteral("\"%1\" is not a number").arg(text);
        else if (field.whole && value != std::floor(value))
            problem = QStringLiteral("%1 is not a whole number").arg(text);
    }
    const std::string name = job_.tools[static_cast<std::size_t>(tool)].name;
    if (!problem.isEmpty()) {
        QString what = field.name;
        if (field.edit->objectName().startsWith(QLatin1String("MeasureLimit")))
            what += QStringLiteral(" of ") + limitOutput_->currentText();
        ShowMessage(QStringLiteral("%1, %2 %3. The job in use stays.")
                        .arg(QString::fromStdString(name), what, problem));
        FillSetup();
        return;
    }
    const double old = field.get(job_.tools[static_cast<std::size_t>(tool)]);
    if (old == value || (std::isnan(old) && std::isnan(value)))
        return;
    ChangeTool([&](ms::ToolSetup &t) { field.set(t, value); });
}

void MeasurePage::ChangeTool(const std::function<void(ms::ToolSetup &)> &change) {
    const int tool = toolList_->currentRow();
    if (tool < 0 || tool >= static_cast<int>(job_.tools.size()))
        return;
    ms::Job job = job_;
    ms::ToolSetup &setup = job.tools[static_cast<std::size_t>(tool)];
    change(setup);
    const QString problem = CheckTool(job, static_cast<std::size_t>(tool));
    if (!problem.isEmpty()) {
        ShowMessage(
            QStringLiteral("%1, %2. The job in use stays.")
                .arg(QString::fromStdString(job_.tools[static_cast<std::size_t>(tool)].name),
                     problem));
        ShowToolSetup(); // back to the job's values
        return;
    }
    if (!ApplyJob(std::move(job)))
        ShowToolSetup();
}

void MeasurePage::RebuildTable() {
    int rows = 0;
    for (const auto &t : job_.tools)
        rows += ms::InfoOf(t.kind).outputCount;
    table_->setRowCount(rows);
    int row = 0;
    for (std::size_t t = 0; t < job_.tools.size(); ++t) {
        const auto &setup = job_.tools[t];
        const auto &info = ms::InfoOf(setup.kind);
        for (int k = 0; k < info.outputCount; ++k, ++row) {
            const auto &out = info.outputs[static_cast<std::size_t>(k)];
            const int l = LimitIndex(static_cast<int>(t), k);
            const QString texts[] = {QString::fromStdString(setup.name),
                                     QString::fromLatin1(out.name),
                                     QString(),
                                     QString::fromLatin1(out.unit),
                                     l >= 0 ? LimitText(setup.limits[static_cast<std::size_t>(l)])
                                            : QString(),
                                     QString()};
            for (int c = 0; c < 6; ++c) {
                auto *item = new QTableWidgetItem(texts[c]);
                if (c == 2)
                    item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
                table_->setItem(row, c, item);
            }
            table_->item(row, 0)->setData(Qt::UserRole, static_cast<int>(t));
            table_->item(row, 0)->setData(Qt::UserRole + 1, k);
        }
    }
    FillTable();
}

void MeasurePage::FillTable() {
    int row = 0;
    for (std::size_t t = 0; t < job_.tools.size(); ++t) {
        const auto &setup = job_.tools[t];
        const int outputs = ms::InfoOf(setup.kind).outputCount;
        const ms::ToolResult *tr =
            haveLatest_ && t < latest_.result.tools.size() ? &latest_.result.tools[t] : nullptr;
        for (int k = 0; k < outputs; ++k, ++row) {
            if (table_->item(row, 5) == nullptr)
                return;
            QString value, state;
            QColor colour = Qt::white;
            if (tr == nullptr) {
                state = QStringLiteral("no result: no profile measured yet");
                colour = kNoResultColour;
            } else if (!tr->ok) {
                state = QStringLiteral("no result: ") + QString::fromLatin1(tr->reason);
                colour = kNoResultColour;
            } else {
                value = Number(tr->values[static_cast<std::size_t>(k)]);
                const int l = LimitIndex(static_cast<int>(t), k);
                if (l >= 0 && static_cast<std::size_t>(l) < tr->limits.size()) {
                    const bool pass =
                        tr->limits[static_cast<std::size_t>(l)] == ms::LimitState::Pass;
                    state = pass ? QStringLiteral("pass") : QStringLiteral("fail");
                    colour = pass ? kPassColour : kFailColour;
                }
            }
            table_->item(row, 2)->setText(value);
            table_->item(row, 5)->setText(state);
            for (int c = 0; c < 6; ++c)
                table_->item(row, c)->setBackground(colour);
        }
    }
}

void MeasurePage::ChooseTrend(int tool, int output) {
    if (tool < 0 || tool >= static_cast<int>(job_.tools.size()))
        return;
    trendTool_ = tool;
    trendOutput_ = output;
    UpdateTrend();
}

void MeasurePage::UpdateTrend() {
    if (trendTool_ < 0 || trendTool_ >= static_cast<int>(job_.tools.size())) {
        trendStats_ = {};
        trendTitle_->setText(QStringLiteral("Trend: click a result"));
        stats_->clear();
        trendGraph_->data()->clear();
        if (isVisible())
            trendPlot_->replot(QCustomPlot::rpQueuedReplot);
        return;
    }
    const auto tool = static_cast<std::size_t>(trendTool_);
    const auto &setup = job_.tools[tool];
    const auto &out = ms::InfoOf(setup.kind).outputs[static_cast<std::size_t>(trendOutput_)];
    trendTitle_->setText(QStringLiteral("Trend: %1.%2, %3, last %4 profiles")
                             .arg(QString::fromStdString(setup.name), QString::fromLatin1(out.name),
                                  QString::fromLatin1(out.unit))
                             .arg(history_.depth()));
    trendStats_ = history_.Statistics(tool, trendOutput_, setup);
    const TrendStatistics &s = trendStats_;
    QString text = QStringLiteral("Count: %1\n").arg(s.count);
    if (s.count > 0)
        text += QStringLiteral("Mean: %1\nStd. deviation: %2\nMinimum: %3\nMaximum: %4\n")
                    .arg(Number(s.mean), Number(s.std), Number(s.min), Number(s.max));
    text += QStringLiteral("Failures: %1\nNo result: %2").arg(s.failures).arg(s.noResult);
    stats_->setText(text);
    if (!isVisible())
        return;
    const std::vector<double> values = history_.Values(tool, trendOutput_);
    QVector<double> keys(static_cast<qsizetype>(values.size()));
    QVector<double> ys(static_cast<qsizetype>(values.size()));
    for (std::size_t i = 0; i < values.size(); ++i) {
        keys[static_cast<qsizetype>(i)] = -static_cast<double>(values.size() - 1 - i);
        ys[static_cast<qsizetype>(i)] = values[i];
    }
    trendGraph_->setData(keys, ys, true);
    trendPlot_->xAxis->setRange(-static_cast<double>(history_.depth()), 0);
    if (s.count > 0) {
        const double pad = std::max((s.max - s.min) * 0.1, 0.01);
        trendPlot_->yAxis->setRange(s.min - pad, s.max + pad);
    }
    trendPlot_->replot(QCustomPlot::rpQueuedReplot);
}

void MeasurePage::PlotLatest(const FeedPacket &packet) {
    std::array<ProfilePoint, kProfilePoints> points;
    DecodePacket(ProfilePacket(packet.bytes.data()), packet.scale, points);
    QVector<double> xs, zs;
    xs.reserve(kProfilePoints);
    zs.reserve(kProfilePoints);
    for (const auto &p : points)
        if (p.valid) {
            xs.push_back(p.x);
            zs.push_back(p.z);
        }
    points_->setData(xs, zs);
    if (!axesSet_) {
        // The scanner's field, as the window's own profile charts show it.
        const double xHalf = packet.scale.rangeXEmr * 1.05 / 2;
        profile_->xAxis->setRange(-xHalf, xHalf);
        profile_->yAxis->setRange(0, packet.scale.rangeZ * 1.05);
        axesSet_ = true;
    }
    if (isVisible())
        profile_->replot(QCustomPlot::rpQueuedReplot);
}

void MeasurePage::Tick() {
    taken_.clear();
    worker_.TakeResults(taken_);
    bool any = false;
    for (auto &p : taken_) {
        if (p.jobVersion != jobVersion_)
            continue; // measured with a job since replaced
        latest_ = p;
        haveLatest_ = true;
        history_.Add(std::move(p));
        any = true;
    }
    if (worker_.TakeLatest(packet_))
        PlotLatest(packet_);
    counts_->setText(QStringLiteral("Measured: %1   Dropped: %2")
                         .arg(worker_.measured())
                         .arg(worker_.dropped()));
    if (any) {
        FillTable();
        UpdateTrend();
    }
}

int MeasurePage::HitRegion(const QPointF &pos, int &edges) const {
    // The region under the mouse: an edge within a few pixels, else a body.
    // Regions without a Z range span the chart's height.
    edges = 0;
    const QRect area = profile_->axisRect()->rect();
    if (!area.contains(pos.toPoint()))
        return -1;
    for (int i = static_cast<int>(regions_.size()) - 1; i >= 0; --i) {
        const RegionItem &r = regions_[static_cast<std::size_t>(i)];
        const ms::Region *region = RegionIn(job_.tools[static_cast<std::size_t>(r.tool)], r.which);
        if (region == nullptr)
            continue;
        const double left = profile_->xAxis->coordToPixel(region->xMin);
        const double right = profile_->xAxis->coordToPixel(region->xMax);
        const double top =
            std::isfinite(region->zMax) ? profile_->yAxis->coordToPixel(region->zMax) : area.top();
        const double bottom = std::isfinite(region->zMin)
                                  ? profile_->yAxis->coordToPixel(region->zMin)
                                  : area.bottom();
        if (pos.x() < left - kEdgePixels || pos.x() > right + kEdgePixels ||
            pos.y() < top - kEdgePixels || pos.y() > bottom + kEdgePixels)
            continue;
        if (std::abs(pos.x() - left) <= kEdgePixels)
            edges |= kDragLeft;
        else if (std::abs(pos.x() - right) <= kEdgePixels)
            edges |= kDragRight;
        if (std::isfinite(region->zMax) && std::abs(pos.y() - top) <= kEdgePixels)
            edges |= kDragHigh;
        else if (std::isfinite(region->zMin) && std::abs(pos.y() - bottom) <= kEdgePixels)
            edges |= kDragLow;
        if (edges == 0 &&
            (pos.x() <= left || pos.x() >= right || pos.y() <= top || pos.y() >= bottom))
            continue; // in the margin around it, near no edge
        if (edges == 0)
            edges = kDragLeft | kDragRight | kDragLow | kDragHigh; // the body: moves
        return i;
    }
    return -1;
}

bool MeasurePage::eventFilter(QObject *watched, QEvent *event) {
    if (watched != profile_)
        return QWidget::eventFilter(watched, event);
    const auto type = event->type();
    if (type != QEvent::MouseButtonPress && type != QEvent::MouseMove &&
        type != QEvent::MouseButtonRelease)
        return QWidget::eventFilter(watched, event);
    const auto *mouse = static_cast<QMouseEvent *>(event);
    const QPointF pos = mouse->position();
    const double x = profile_->xAxis->pixelToCoord(pos.x());
    const double z = profile_->yAxis->pixelToCoord(pos.y());
    if (type == QEvent::MouseButtonRelease) {
        if (dragEdges_ == 0)
            return false;
        dragEdges_ = 0;
        dragItem_ = -1;
        ShowToolSetup();
        return true;
    }
    if (type == QEvent::MouseMove && dragEdges_ != 0) {
        const RegionItem &item = regions_[static_cast<std::size_t>(dragItem_)];
        ms::Job job = job_;
        ms::Region &region = *RegionIn(job.tools[static_cast<std::size_t>(item.tool)], item.which);
        const double dx = x - dragStartX_;
        const double dz = z - dragStartZ_;
        const double minWidth = profile_->xAxis->range().size() / 200;
        const double minHeight = profile_->yAxis->range().size() / 200;
        const ms::Region &s = dragStart_;
        region = s;
        const bool move = dragEdges_ == (kDragLeft | kDragRight | kDragLow | kDragHigh);
        if (move) {
            region.xMin += dx;
            region.xMax += dx;
            region.zMin += dz; // an open side stays open: infinity plus dz
            region.zMax += dz;
        } else {
            if (dragEdges_ & kDragLeft)
                region.xMin = std::min(s.xMin + dx, s.xMax - minWidth);
            if (dragEdges_ & kDragRight)
                region.xMax = std::max(s.xMax + dx, s.xMin + minWidth);
            if (dragEdges_ & kDragLow)
                region.zMin = std::min(s.zMin + dz, s.zMax - minHeight);
            if (dragEdges_ & kDragHigh)
                region.zMax = std::max(s.zMax + dz, s.zMin + minHeight);
        }
        if (region == *RegionOf(item.tool, item.which))
            return true; // not moved: the job in use stays, with its version
        try {
            HandJob(job);
            job_ = std::move(job);
            PlaceRegions();
            if (toolList_->currentRow() == item.tool)
                FillSetup();
            emit runningJobChanged();
        } catch (const ms::JobError &) {
            // A region pulled beyond what a job allows stays where it was.
        }
        return true;
    }
    int edges = 0;
    const int hit = HitRegion(pos, edges);
    if (type == QEvent::MouseMove) {
        const bool horizontal = (edges & (kDragLeft | kDragRight)) != 0;
        const bool vertical = (edges & (kDragLow | kDragHigh)) != 0;
        Qt::CursorShape shape = Qt::ArrowCursor;
        if (hit >= 0 && horizontal && vertical)
            shape = edges == (kDragLeft | kDragRight | kDragLow | kDragHigh) ? Qt::SizeAllCursor
                    : ((edges & kDragLeft) != 0) == ((edges & kDragHigh) != 0)
                        ? Qt::SizeFDiagCursor
                        : Qt::SizeBDiagCursor;
        else if (hit >= 0)
            shape = horizontal ? Qt::SizeHorCursor : Qt::SizeVerCursor;
        profile_->setCursor(shape);
        return false;
    }
    if (mouse->button() != Qt::LeftButton || hit < 0)
        return false;
    dragEdges_ = edges;
    dragItem_ = hit;
    dragStartX_ = x;
    dragStartZ_ = z;
    const RegionItem &r = regions_[static_cast<std::size_t>(hit)];
    dragStart_ = *RegionOf(r.tool, r.which);
    SelectTool(r.tool);
    return true;
}

} // namespace qz417
