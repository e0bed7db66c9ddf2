// Creation of the main window (the layout of the left pages and the
// information page, then the creation steps in their order) and its close.
#include "core/form_main.h"
#include "core/window_additions.h"

#include <filesystem>

#include <QCloseEvent>
#include <QFrame>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

#include "core/app_state.h"
#include "core/post_gate.h"
#include "core/thread_owner.h"
#include "core/window_fonts.h"
#include "widgets/profile_chart.h"
#include "widgets/video_panel.h"

namespace {

constexpr int kClientWidth = 947;
constexpr int kClientHeight = 608;
constexpr int kPanelWidth = 640;
constexpr int kPanelHeight = 512;
constexpr int kBevel = 2;
// Where the rows under the 640 x 512 panels start.
constexpr int kRow1 = kPanelHeight + 8;
constexpr int kRow2 = kRow1 + 20;
constexpr int kButtonTop = kPanelHeight + 10;
// Counter captions and their values, two pairs side by side.
constexpr int kTitleWidth = 142;
constexpr int kValueWidth = 52;
constexpr int kValue1X = 4 + kTitleWidth + 2;
constexpr int kTitle2X = kValue1X + kValueWidth + 4;
constexpr int kValue2X = kTitle2X + kTitleWidth + 2;
constexpr int kButtonWidth = 84;
constexpr int kButtonHeight = 25;

template <class W> W *Named(W *widget, const char *name) {
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

QLabel *MakeLabel(QWidget *parent, const char *name, const QString &text, int x, int y, int w) {
    auto *label = Named(new QLabel(text, parent), name);
    label->setGeometry(x, y, w, 16);
    return label;
}

QPushButton *MakeButton(QWidget *parent, const char *name, const QString &text, int x) {
    auto *button = Named(new QPushButton(text, parent), name);
    button->setGeometry(x, kButtonTop, kButtonWidth, kButtonHeight);
    return button;
}

// A 640 x 512 panel with a 2-pixel bevel at the top left of a page.
QFrame *MakePanel(QWidget *parent, const char *name) {
    auto *panel = Named(new QFrame(parent), name);
    panel->setFrameStyle(QFrame::Panel | QFrame::Raised);
    panel->setLineWidth(kBevel);
    panel->setGeometry(0, 0, kPanelWidth, kPanelHeight);
    return panel;
}

QWidget *MakePage(QTabWidget *pages, const char *name, const QString &caption) {
    auto *page = Named(new QWidget(pages), name);
    pages->addTab(page, caption);
    return page;
}

} // namespace

TFormMain::TFormMain(QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint),
      threads_(std::make_unique<qz417::ThreadOwner>()),
      postGate_(std::make_shared<qz417::PostGate>(this)) {
    if (FormMain == nullptr)
        FormMain = this;
    setObjectName(QStringLiteral("FormMain"));
    setWindowTitle(QStringLiteral("QZ417 Setup Program."));
    setFont(qz417::WindowFont());
    setFixedSize(kClientWidth, kClientHeight);
    if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        QRect frame(QPoint(0, 0), size());
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }

    // The form as it is laid out; FormCreate then runs its steps on it.
    PageControlQZ417 = Named(new QTabWidget(this), "PageControlQZ417");
    PageControlQZ417->setGeometry(0, 0, 650, 607);
    PageControlQZ417->setUsesScrollButtons(false);
    TabSheetSearch = MakePage(PageControlQZ417, "TabSheetSearch", "Search QZ417");
    TabSheetResultViewer = MakePage(PageControlQZ417, "TabSheetResultViewer", "Result viewer");
    TabSheetImageGrabber = MakePage(PageControlQZ417, "TabSheetImageGrabber", "Image viewer");
    TabSheetUDP = MakePage(PageControlQZ417, "TabSheetUDP", "UDP");

    PageControlMore = Named(new QTabWidget(this), "PageControlMore");
    PageControlMore->setGeometry(656, 0, 289, 607);
    PageControlMore->setUsesScrollButtons(false);
    TabSheetInformation = MakePage(PageControlMore, "TabSheetInformation", "Information");
    TabSheetParameters = MakePage(PageControlMore, "TabSheetParameters", "Parameters");

    BuildSearchPage();
    BuildResultPage();
    BuildImagePage();
    BuildUdpPage();
    BuildInformationPage();
    BuildParametersPage();
    BuildAdditions();

    TimerView = Named(new QTimer(this), "TimerView");
    TimerView->setTimerType(Qt::PreciseTimer);
    TimerView->setInterval(1);
    connect(TimerView, &QTimer::timeout, this, &TFormMain::TimerViewTimer);

    FormCreate();
}

TFormMain::~TFormMain() {
    if (!closed_)
        FormClose();
    ShutdownWorkers();
    if (FormMain == this)
        FormMain = nullptr;
}

void TFormMain::BuildSearchPage() {
    Panel4 = MakePanel(TabSheetSearch, "Panel4");
    StringGridSearch = Named(new QTableWidget(Panel4), "StringGridSearch");
    StringGridSearch->setGeometry(kBevel, kBevel, kPanelWidth - 2 * kBevel,
                                  kPanelHeight - 2 * kBevel);
    StringGridSearch->verticalHeader()->hide();
    StringGridSearch->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    StringGridSearch->horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    StringGridSearch->horizontalHeader()->setHighlightSections(false);
    StringGridSearch->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    StringGridSearch->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    StringGridSearch->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    StringGridSearch->setSelectionBehavior(QAbstractItemView::SelectRows);
    StringGridSearch->setSelectionMode(QAbstractItemView::SingleSelection);
    StringGridSearch->setEditTriggers(QAbstractItemView::NoEditTriggers);
    StringGridSearch->setWordWrap(false);
    // A click, or a row chosen with the keyboard, shows that row's device.
    connect(StringGridSearch, &QTableWidget::cellClicked, this,
            [this](int, int) { StringGridSearchClick(); });
    connect(StringGridSearch, &QTableWidget::currentCellChanged, this,
            [this](int row, int, int previousRow, int) {
                if (row != previousRow)
                    StringGridSearchClick();
            });
    connect(StringGridSearch, &QTableWidget::cellDoubleClicked, this,
            [this](int, int) { ButtonConnectClick(); });

    ProgressBarSearch = Named(new QProgressBar(TabSheetSearch), "ProgressBarSearch");
    ProgressBarSearch->setGeometry(4, kButtonTop + 3, 456, 19);
    ProgressBarSearch->setTextVisible(false);
    ProgressBarSearch->setRange(0, 100);
    ProgressBarSearch->setValue(0);
    ButtonSearch = MakeButton(TabSheetSearch, "ButtonSearch", "Search QZ417", 466);
    ButtonSearch->setGeometry(466, kButtonTop, 88, kButtonHeight);
    ButtonConnect = MakeButton(TabSheetSearch, "ButtonConnect", "Connect", 556);
    connect(ButtonSearch, &QPushButton::clicked, this, &TFormMain::ButtonSearchClick);
    connect(ButtonConnect, &QPushButton::clicked, this, &TFormMain::ButtonConnectClick);
}

void TFormMain::BuildResultPage() {
    Panel1 = MakePanel(TabSheetResultViewer, "Panel1");
    ChartResult = new qz417::ProfileChart(Panel1, QStringLiteral("SeriesResult"));
    ChartResult->setObjectName(QStringLiteral("ChartResult"));
    ChartResult->setGeometry(kBevel, kBevel, kPanelWidth - 2 * kBevel, kPanelHeight - 2 * kBevel);

    QWidget *page = TabSheetResultViewer;
    LabelResultCntTitle =
        MakeLabel(page, "LabelResultCntTitle", "Measurements counter:", 4, kRow1, kTitleWidth);
    LabelResultCnt = MakeLabel(page, "LabelResultCnt", "0", kValue1X, kRow1, kValueWidth);
    LabelResultPerSecTitle = MakeLabel(page, "LabelResultPerSecTitle",
                                       "Measurements per sec.:", kTitle2X, kRow1, kTitleWidth);
    LabelResultPerSec = MakeLabel(page, "LabelResultPerSec", "0", kValue2X, kRow1, kValueWidth);
    LabelPacksCntTitle =
        MakeLabel(page, "LabelPacksCntTitle", "Packets counter:", 4, kRow2, kTitleWidth);
    LabelPacksCnt = MakeLabel(page, "LabelPacksCnt", "0", kValue1X, kRow2, kValueWidth);
    LabelPacksPerSecTitle =
        MakeLabel(page, "LabelPacksPerSecTitle", "Packets per sec.:", kTitle2X, kRow2, kTitleWidth);
    LabelPacksPerSec = MakeLabel(page, "LabelPacksPerSec", "0", kValue2X, kRow2, kValueWidth);

    ButtonResult = MakeButton(page, "ButtonResult", "Start", 466);
    ButtonResultSave = MakeButton(page, "ButtonResultSave", "Save", 556);
    connect(ButtonResult, &QPushButton::clicked, this, &TFormMain::ButtonResultClick);
    connect(ButtonResultSave, &QPushButton::clicked, this, &TFormMain::ButtonResultSaveClick);
}

void TFormMain::BuildImagePage() {
    QWidget *page = TabSheetImageGrabber;
    PanelVideo = new qz417::VideoPanel(page);
    PanelVideo->setObjectName(QStringLiteral("PanelVideo"));
    PanelVideo->setGeometry(0, 0, kPanelWidth, kPanelHeight);

    LabelFrameCntTitle =
        MakeLabel(page, "LabelFrameCntTitle", "Frames counter:", 4, kRow1, kTitleWidth);
    LabelFrameCnt = MakeLabel(page, "LabelFrameCnt", "0", kValue1X, kRow1, kValueWidth);
    LabelFramePerSecTitle = MakeLabel(page, "LabelFramePerSecTitle", "Frames per second:", kTitle2X,
                                      kRow1, kTitleWidth);
    LabelFramePerSec = MakeLabel(page, "LabelFramePerSec", "0", kValue2X, kRow1, kValueWidth);

    ButtonGrabber = MakeButton(page, "ButtonGrabber", "Start", 556);
    connect(ButtonGrabber, &QPushButton::clicked, this, &TFormMain::ButtonGrabberClick);
}

void TFormMain::BuildUdpPage() {
    QWidget *page = TabSheetUDP;
    Panel6 = MakePanel(page, "Panel6");
    ChartUDP = new qz417::ProfileChart(Panel6, QStringLiteral("SeriesUDP"));
    ChartUDP->setObjectName(QStringLiteral("ChartUDP"));
    ChartUDP->setGeometry(kBevel, kBevel, kPanelWidth - 2 * kBevel, kPanelHeight - 2 * kBevel);

    LabelResultUDPCntTitle =
        MakeLabel(page, "LabelResultUDPCntTitle", "Measurements counter:", 4, kRow1, kTitleWidth);
    LabelResultUDPCnt = MakeLabel(page, "LabelResultUDPCnt", "0", kValue1X, kRow1, kValueWidth);
    LabelResultUDPPerSecTitle = MakeLabel(page, "LabelResultUDPPerSecTitle",
                                          "Measurements per sec.:", kTitle2X, kRow1, kTitleWidth);
    LabelResultUDPPerSec =
        MakeLabel(page, "LabelResultUDPPerSec", "0", kValue2X, kRow1, kValueWidth);
    LabelPacksUDPCntTitle =
        MakeLabel(page, "LabelPacksUDPCntTitle", "Packets counter:", 4, kRow2, kTitleWidth);
    LabelPacksUDPCnt = MakeLabel(page, "LabelPacksUDPCnt", "0", kValue1X, kRow2, kValueWidth);
    LabelPacksUDPPerSecTitle = MakeLabel(page, "LabelPacksUDPPerSecTitle",
                                         "Packets per sec.:", kTitle2X, kRow2, kTitleWidth);
    LabelPacksUDPPerSec = MakeLabel(page, "LabelPacksUDPPerSec", "0", kValue2X, kRow2, kValueWidth);

    LabelUDPPrt = MakeLabel(page, "LabelUDPPrt", "Port:", 420, kButtonTop + 4, 34);
    EditUDPPrt = Named(new QLineEdit(QStringLiteral("6003"), page), "EditUDPPrt");
    EditUDPPrt->setMaxLength(5);
    EditUDPPrt->setGeometry(456, kButtonTop + 1, 56, 22);

    ButtonUDPResult = MakeButton(page, "ButtonUDPResult", "Start", 556);
    connect(ButtonUDPResult, &QPushButton::clicked, this, &TFormMain::ButtonUDPResultClick);
}

void TFormMain::BuildInformationPage() {
    MemoInfo = Named(new QPlainTextEdit(TabSheetInformation), "MemoInfo");
    MemoInfo->setReadOnly(true);
    MemoInfo->setFont(qz417::MemoFont());
    MemoInfo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    MemoInfo->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    MemoInfo->setLineWrapMode(QPlainTextEdit::NoWrap);
    auto *layout = new QVBoxLayout(TabSheetInformation);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(MemoInfo);
}

void TFormMain::FormCreate() {
    WorkerMode = 0;
    std::error_code ec;
    StartDirectory = std::filesystem::current_path(ec).string();
    GroupBoxIntegration->setTitle(QStringLiteral("Integration: 0 us"));
    RequestImage = 0;
    RequestWriteParams = 0;
    RequestReadParams = 0;
    FlushArgument = 0;
    RequestFlushParams = 0;
    ButtonConnect->setEnabled(false);
    StringGridSearch->setEnabled(false);
    PageControlQZ417->setTabVisible(PageControlQZ417->indexOf(TabSheetResultViewer), false);
    PageControlQZ417->setTabVisible(PageControlQZ417->indexOf(TabSheetImageGrabber), false);
    PageControlMore->setTabVisible(PageControlMore->indexOf(TabSheetParameters), false);
    LayoutSearchGrid();
    MemoInfo->clear();
    AcquiredCount = 0;
    LabelResultPerSec->setText(QStringLiteral("0"));
    LabelResultCnt->setText(QStringLiteral("0"));
    LabelFramePerSec->setText(QStringLiteral("0"));
    LabelFrameCnt->setText(QStringLiteral("0"));
    CreateImageView();
    FillParameterLists();
}

void TFormMain::closeEvent(QCloseEvent *event) {
    if (!closed_)
        FormClose();
    event->accept();
}

void TFormMain::FormClose() {
    closed_ = true;
    StopTimerView();
    DestroyImageView();
    QZ417_Disconnect(DeviceSocket.exchange(-1));
}

void TFormMain::ShutdownWorkers() {
    // Nothing a worker does from now on reaches the window.
    postGate_->close();
    threads_->stopAll();
    // A search listens for up to 5.1 s and a TCP exchange may wait for the
    // library's 4 s receive time-out; the connection is already closed.
    threads_->joinAll(std::chrono::milliseconds(6500));
}
