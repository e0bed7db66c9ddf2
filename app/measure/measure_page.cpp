#include "measure/measure_page.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>

#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QSaveFile>
#include <QTableWidget>
#include <qcustomplot.h>

#include "model/measure/result_csv.h"

namespace qz {

namespace {

namespace ms = measure;

constexpr double kNone = -10001.0; // a spin box at its minimum: no value
constexpr double kSpinMax = 10000.0;
constexpr int kEdgePixels = 5; // how near an edge a press resizes

QLabel *MakeLabel(QWidget *parent, const QString &text, int x, int y, int w, int h = 20) {
    auto *label = new QLabel(text, parent);
    label->setGeometry(x, y, w, h);
    return label;
}

QDoubleSpinBox *MakeSpin(QWidget *parent, const QString &name, int x, int y, int w,
                         const QString &none = QString()) {
    auto *spin = new QDoubleSpinBox(parent);
    spin->setObjectName(name);
    spin->setGeometry(x, y, w, 22);
    spin->setDecimals(2);
    spin->setRange(none.isEmpty() ? -kSpinMax : kNone, kSpinMax);
    if (!none.isEmpty())
        spin->setSpecialValueText(none);
    spin->setKeyboardTracking(false);
    return spin;
}

double SpinValue(const QDoubleSpinBox *spin) {
    return spin->value() <= kNone ? std::numeric_limits<double>::quiet_NaN() : spin->value();
}

void SetSpin(QDoubleSpinBox *spin, double value) {
    spin->setValue(std::isfinite(value) ? value : kNone);
}

bool TwoRegions(ms::ToolKind kind) {
    return kind == ms::ToolKind::Step || kind == ms::ToolKind::Gap || kind == ms::ToolKind::Angle;
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
    toolList_->setGeometry(kRight, 24, 220, 96);
    connect(toolList_, &QListWidget::currentRowChanged, this, [this](int) { ShowToolSetup(); });
    kindBox_ = new QComboBox(this);
    kindBox_->setObjectName(QStringLiteral("MeasureKind"));
    kindBox_->setGeometry(kRight, 124, 96, 22);
    for (int k = 0; k < ms::kToolKinds; ++k)
        kindBox_->addItem(QString::fromLatin1(ms::InfoOf(static_cast<ms::ToolKind>(k)).name));
    auto *add = new QPushButton(QStringLiteral("Add"), this);
    add->setObjectName(QStringLiteral("MeasureAdd"));
    add->setGeometry(kRight + 100, 124, 58, 22);
    connect(add, &QPushButton::clicked, this,
            [this] { AddTool(static_cast<ms::ToolKind>(kindBox_->currentIndex())); });
    auto *remove = new QPushButton(QStringLiteral("Remove"), this);
    remove->setObjectName(QStringLiteral("MeasureRemove"));
    remove->setGeometry(kRight + 162, 124, 58, 22);
    connect(remove, &QPushButton::clicked, this, [this] { RemoveTool(toolList_->currentRow()); });

    constexpr int kField = kRight + 76;
    MakeLabel(this, QStringLiteral("Region X:"), kRight, 150, 74);
    xMin_ = MakeSpin(this, QStringLiteral("MeasureXMin"), kField, 150, 70);
    xMax_ = MakeSpin(this, QStringLiteral("MeasureXMax"), kField + 74, 150, 70);
    MakeLabel(this, QStringLiteral("Second X:"), kRight, 174, 74);
    x2Min_ = MakeSpin(this, QStringLiteral("MeasureX2Min"), kField, 174, 70);
    x2Max_ = MakeSpin(this, QStringLiteral("MeasureX2Max"), kField + 74, 174, 70);
    paramCaption_ = MakeLabel(this, QStringLiteral("Parameter:"), kRight, 198, 74);
    param_ = MakeSpin(this, QStringLiteral("MeasureParameter"), kField, 198, 144,
                      QStringLiteral("auto"));
    MakeLabel(this, QStringLiteral("Limit of:"), kRight, 222, 74);
    limitOutput_ = new QComboBox(this);
    limitOutput_->setObjectName(QStringLiteral("MeasureLimitOutput"));
    limitOutput_->setGeometry(kField, 222, 144, 22);
    connect(limitOutput_, &QComboBox::currentIndexChanged, this, [this](int) {
        if (filling_)
            return;
        const int tool = toolList_->currentRow();
        const int l = LimitIndex(tool, limitOutput_->currentIndex());
        filling_ = true;
        const ms::Limit none;
        const ms::Limit &limit =
            l >= 0 ? job_.tools[static_cast<std::size_t>(tool)].limits[static_cast<std::size_t>(l)]
                   : none;
        SetSpin(limitMin_, limit.min);
        SetSpin(limitMax_, limit.max);
        filling_ = false;
    });
    MakeLabel(this, QStringLiteral("Min / max:"), kRight, 246, 74);
    limitMin_ =
        MakeSpin(this, QStringLiteral("MeasureLimitMin"), kField, 246, 70, QStringLiteral("none"));
    limitMax_ = MakeSpin(this, QStringLiteral("MeasureLimitMax"), kField + 74, 246, 70,
                         QStringLiteral("none"));
    for (QDoubleSpinBox *spin : {xMin_, xMax_, x2Min_, x2Max_, param_, limitMin_, limitMax_})
        connect(spin, &QDoubleSpinBox::valueChanged, this, [this](double) {
            if (!filling_)
                ReadToolSetup();
        });

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
    history_.Clear();
    haveLatest_ = false;
    axesSet_ = false;
    if (sourceBox_->currentIndex() != index)
        sourceBox_->setCurrentIndex(index);
    if (!worker_.Start(bindings_[static_cast<std::size_t>(index)].sources))
        counts_->setText(QStringLiteral("Too many subscribers to the source"));
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
    auto &setup = job_.tools[static_cast<std::size_t>(tool)];
    return which == 0 ? &setup.region : &setup.second;
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
        jobVersion_ = worker_.SetJob(job.tools.empty() ? std::nullopt : std::optional(job));
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
        const int row = toolList_->currentRow();
        RebuildTools();
        toolList_->setCurrentRow(std::min(row, static_cast<int>(job_.tools.size()) - 1));
        RebuildRegions();
        RebuildTable();
    } else {
        PlaceRegions();
    }
    ShowToolSetup();
    UpdateTrend();
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
        const int count = TwoRegions(job_.tools[t].kind) ? 2 : 1;
        for (int which = 0; which < count; ++which) {
            const QColor colour = ToolColour(static_cast<int>(t));
            auto *rect = new QCPItemRect(profile_);
            rect->setPen(QPen(colour));
            QColor fill = colour;
            fill.setAlpha(50);
            rect->setBrush(fill);
            for (QCPItemPosition *p : {rect->topLeft, rect->bottomRight}) {
                p->setTypeX(QCPItemPosition::ptPlotCoords);
                p->setTypeY(QCPItemPosition::ptAxisRectRatio);
            }
            auto *label = new QCPItemText(profile_);
            label->setColor(colour);
            label->position->setTypeX(QCPItemPosition::ptPlotCoords);
            label->position->setTypeY(QCPItemPosition::ptAxisRectRatio);
            label->setPositionAlignment(Qt::AlignHCenter | Qt::AlignTop);
            label->setText(QString::fromStdString(job_.tools[t].name) +
                           (count == 2 ? QString::number(which + 1) : QString()));
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
        r.rect->topLeft->setCoords(region->xMin, 0.0);
        r.rect->bottomRight->setCoords(region->xMax, 1.0);
        // Staggered, so that the names of regions over each other stay readable.
        const double row = static_cast<double>(&r - regions_.data()) * 0.07;
        r.label->position->setCoords((region->xMin + region->xMax) / 2, 0.01 + std::fmod(row, 0.5));
    }
    if (isVisible())
        profile_->replot(QCustomPlot::rpQueuedReplot);
}

void MeasurePage::ShowToolSetup() {
    const int tool = toolList_->currentRow();
    const bool have = tool >= 0 && tool < static_cast<int>(job_.tools.size());
    filling_ = true;
    for (QWidget *w :
         std::initializer_list<QWidget *>{xMin_, xMax_, limitOutput_, limitMin_, limitMax_})
        w->setEnabled(have);
    limitOutput_->clear();
    if (!have) {
        x2Min_->setEnabled(false);
        x2Max_->setEnabled(false);
        param_->setEnabled(false);
        filling_ = false;
        return;
    }
    const ms::ToolSetup &setup = job_.tools[static_cast<std::size_t>(tool)];
    const ms::ToolInfo &info = ms::InfoOf(setup.kind);
    xMin_->setValue(setup.region.xMin);
    xMax_->setValue(setup.region.xMax);
    const bool two = TwoRegions(setup.kind);
    x2Min_->setEnabled(two);
    x2Max_->setEnabled(two);
    x2Min_->setValue(two ? setup.second.xMin : 0.0);
    x2Max_->setValue(two ? setup.second.xMax : 0.0);
    param_->setEnabled(true);
    param_->setSpecialValueText(QString());
    switch (setup.kind) {
    case ms::ToolKind::Edge:
    case ms::ToolKind::Width:
        paramCaption_->setText(QStringLiteral("Level, mm:"));
        param_->setValue(setup.level);
        break;
    case ms::ToolKind::Gap:
        paramCaption_->setText(QStringLiteral("Tolerance:"));
        param_->setValue(setup.gapTolerance);
        break;
    case ms::ToolKind::Area:
        paramCaption_->setText(QStringLiteral("Base Z, mm:"));
        param_->setValue(setup.baseOffset);
        break;
    case ms::ToolKind::Step:
        paramCaption_->setText(QStringLiteral("Reference X:"));
        param_->setSpecialValueText(QStringLiteral("auto"));
        SetSpin(param_, setup.referenceX);
        break;
    default:
        paramCaption_->setText(QStringLiteral("Parameter:"));
        param_->setEnabled(false);
        break;
    }
    for (int k = 0; k < info.outputCount; ++k)
        limitOutput_->addItem(QString::fromLatin1(info.outputs[static_cast<std::size_t>(k)].name));
    const int l = LimitIndex(tool, 0);
    const ms::Limit none;
    const ms::Limit &limit = l >= 0 ? setup.limits[static_cast<std::size_t>(l)] : none;
    SetSpin(limitMin_, limit.min);
    SetSpin(limitMax_, limit.max);
    filling_ = false;
}

void MeasurePage::ReadToolSetup() {
    const int tool = toolList_->currentRow();
    if (tool < 0 || tool >= static_cast<int>(job_.tools.size()))
        return;
    ms::Job job = job_;
    ms::ToolSetup &setup = job.tools[static_cast<std::size_t>(tool)];
    setup.region.xMin = xMin_->value();
    setup.region.xMax = xMax_->value();
    if (TwoRegions(setup.kind)) {
        setup.second.xMin = x2Min_->value();
        setup.second.xMax = x2Max_->value();
    }
    switch (setup.kind) {
    case ms::ToolKind::Edge:
    case ms::ToolKind::Width:
        setup.level = param_->value();
        break;
    case ms::ToolKind::Gap:
        setup.gapTolerance = param_->value();
        break;
    case ms::ToolKind::Area:
        setup.baseOffset = param_->value();
        break;
    case ms::ToolKind::Step:
        setup.referenceX = SpinValue(param_);
        break;
    default:
        break;
    }
    const int output = limitOutput_->currentIndex();
    if (output >= 0) {
        ms::Limit limit{output, SpinValue(limitMin_), SpinValue(limitMax_)};
        const int l = LimitIndex(tool, output);
        const bool any = std::isfinite(limit.min) || std::isfinite(limit.max);
        if (l >= 0 && any)
            setup.limits[static_cast<std::size_t>(l)] = limit;
        else if (l >= 0)
            setup.limits.erase(setup.limits.begin() + l);
        else if (any)
            setup.limits.push_back(limit);
    }
    if (!ApplyJob(std::move(job)))
        ShowToolSetup(); // back to the job's values
    else
        RebuildTable();
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
    if (type == QEvent::MouseButtonRelease) {
        if (drag_ == Drag::None)
            return false;
        drag_ = Drag::None;
        dragItem_ = -1;
        ShowToolSetup();
        return true;
    }
    if (type == QEvent::MouseMove && drag_ != Drag::None) {
        const RegionItem &item = regions_[static_cast<std::size_t>(dragItem_)];
        ms::Job job = job_;
        ms::ToolSetup &setup = job.tools[static_cast<std::size_t>(item.tool)];
        ms::Region &region = item.which == 0 ? setup.region : setup.second;
        const double dx = x - dragStartX_;
        const double minWidth = profile_->xAxis->range().size() / 200;
        region = dragStart_;
        if (drag_ == Drag::Move) {
            region.xMin += dx;
            region.xMax += dx;
        } else if (drag_ == Drag::Left) {
            region.xMin = std::min(dragStart_.xMin + dx, region.xMax - minWidth);
        } else {
            region.xMax = std::max(dragStart_.xMax + dx, region.xMin + minWidth);
        }
        try {
            jobVersion_ = worker_.SetJob(job);
            job_ = std::move(job);
            PlaceRegions();
            if (toolList_->currentRow() == item.tool) {
                filling_ = true;
                xMin_->setValue(setup.region.xMin);
                xMax_->setValue(setup.region.xMax);
                filling_ = false;
            }
        } catch (const ms::JobError &) {
            // A region pulled beyond what a job allows stays where it was.
        }
        return true;
    }
    // Which region is under the mouse: an edge within a few pixels, else a body.
    const QRect area = profile_->axisRect()->rect();
    int hit = -1;
    Drag kind = Drag::None;
    if (area.contains(pos.toPoint()))
        for (int i = static_cast<int>(regions_.size()) - 1; i >= 0 && hit < 0; --i) {
            const RegionItem &r = regions_[static_cast<std::size_t>(i)];
            const ms::Region *region = RegionOf(r.tool, r.which);
            const double left = profile_->xAxis->coordToPixel(region->xMin);
            const double right = profile_->xAxis->coordToPixel(region->xMax);
            if (std::abs(pos.x() - left) <= kEdgePixels)
                kind = Drag::Left;
            else if (std::abs(pos.x() - right) <= kEdgePixels)
                kind = Drag::Right;
            else if (pos.x() > left && pos.x() < right)
                kind = Drag::Move;
            if (kind != Drag::None)
                hit = i;
        }
    if (type == QEvent::MouseMove) {
        profile_->setCursor(kind == Drag::Move   ? Qt::SizeAllCursor
                            : kind == Drag::None ? Qt::ArrowCursor
                                                 : Qt::SizeHorCursor);
        return false;
    }
    if (mouse->button() != Qt::LeftButton || hit < 0)
        return false;
    drag_ = kind;
    dragItem_ = hit;
    dragStartX_ = x;
    const RegionItem &r = regions_[static_cast<std::size_t>(hit)];
    dragStart_ = *RegionOf(r.tool, r.which);
    SelectTool(r.tool);
    return true;
}

} // namespace qz
