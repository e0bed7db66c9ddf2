// The "Search QZ417" page: starting a search, the search duty that shows its
// progress and fills the grid, choosing a row, connecting and disconnecting.
#include <array>

#include <QHeaderView>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTabWidget>
#include <QTableWidget>

#include "core/app_state.h"
#include "core/form_main.h"
#include "core/thread_owner.h"
#include "core/worker_threads.h"

namespace {

constexpr int kGridColumns = 3;
constexpr int kGridColumnWidth = 210;
constexpr int kGridRowHeight = 21;
constexpr std::size_t kSearchStackBytes = 8192;

// The node at a position of the list (positions from 0), or null.
const DeviceAnnouncement *NodeAt(std::uint16_t position) {
    const DeviceAnnouncement *node = DeviceList.load();
    for (std::uint16_t i = 0; node != nullptr && i < position; ++i)
        node = node->next;
    return node;
}

QString TypeText(const DeviceAnnouncement &d) {
    return QStringLiteral("QZ") + QString::number(d.type);
}

QString IpText(const DeviceAnnouncement &d) {
    return QStringLiteral("%1.%2.%3.%4").arg(d.ip[0]).arg(d.ip[1]).arg(d.ip[2]).arg(d.ip[3]);
}

QString MacText(const DeviceAnnouncement &d) {
    return QString::asprintf("%02X-%02X-%02X-%02X-%02X-%02X", d.mac[0], d.mac[1], d.mac[2],
                             d.mac[3], d.mac[4], d.mac[5]);
}

void SetCell(QTableWidget *grid, int row, int column, const QString &text) {
    if (QTableWidgetItem *item = grid->item(row, column))
        item->setText(text);
    else
        grid->setItem(row, column, new QTableWidgetItem(text));
}

// The grid's current row as the list position it shows (the header row of
// the grid is not counted), as a 16-bit number.
std::uint16_t CurrentPosition(const QTableWidget *grid) {
    return static_cast<std::uint16_t>(grid->currentRow());
}

void SetPageVisible(QTabWidget *pages, QWidget *page, bool visible) {
    pages->setTabVisible(pages->indexOf(page), visible);
}

} // namespace

// The header and one empty row, as the window is created.
void TFormMain::LayoutSearchGrid() {
    const QSignalBlocker block(StringGridSearch);
    StringGridSearch->setColumnCount(kGridColumns);
    StringGridSearch->setRowCount(1);
    StringGridSearch->horizontalHeader()->setDefaultSectionSize(kGridColumnWidth);
    for (int c = 0; c < kGridColumns; ++c)
        StringGridSearch->setColumnWidth(c, kGridColumnWidth);
    StringGridSearch->verticalHeader()->setMinimumSectionSize(kGridRowHeight);
    StringGridSearch->verticalHeader()->setDefaultSectionSize(kGridRowHeight);
    StringGridSearch->setRowHeight(0, kGridRowHeight);
    StringGridSearch->horizontalHeader()->setFixedHeight(kGridRowHeight);
    StringGridSearch->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    StringGridSearch->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    StringGridSearch->setHorizontalHeaderLabels(
        {QStringLiteral("Type of device"), QStringLiteral("IP address"), QStringLiteral("MAC")});
    for (int c = 0; c < kGridColumns; ++c)
        SetCell(StringGridSearch, 0, c, QString());
    StringGridSearch->setCurrentCell(0, 0);
}

void TFormMain::ButtonSearchClick() {
    SettleStoppedWorkers();
    ButtonConnect->setEnabled(false);
    ButtonResultSave->setEnabled(false);
    ButtonSearch->setEnabled(false);
    StringGridSearch->setEnabled(false);
    SearchTimeout = searchTimeoutMs_;
    {
        const QSignalBlocker block(StringGridSearch);
        StringGridSearch->setRowCount(1);
        for (int c = 0; c < kGridColumns; ++c)
            SetCell(StringGridSearch, 0, c, QString());
    }
    ProgressBarSearch->setMinimum(0);
    ProgressBarSearch->setMaximum(SearchTimeout.load());
    ProgressBarSearch->setValue(ProgressBarSearch->minimum());
    MemoInfo->clear();
    // Nothing reads the list until the search thread has replaced it.
    QZ_ClearList(DeviceList.exchange(nullptr));

    // A UDP worker still running waits behind the search and gets the view
    // back when the search has ended.
    if (WorkerMode.load() == kModeUdp)
        WorkerMode = kModeIdle;
    DoneEvent = std::make_shared<qz417::ManualResetEvent>(false);
    qz417::WorkerRun run{nullptr, DoneEvent, {}, nullptr};
    if (!threads_->start(qz417::ThreadParams{kSearchStackBytes, false}, nullptr,
                         [run] { qz417::SearchThreadProc(run); })) {
        // No thread: the search ends at once with an empty list.
        DoneEvent->set();
        WorkerMode = kModeSearch;
        WorkerStartTicks = qz417::TickCount();
    }
    StartTimerView();
}

void TFormMain::SearchDuty() {
    const std::uint32_t elapsed = qz417::TickCount() - WorkerStartTicks.load();
    if (static_cast<std::uint32_t>(ProgressBarSearch->maximum()) <= elapsed)
        ProgressBarSearch->setValue(ProgressBarSearch->maximum());
    else
        ProgressBarSearch->setValue(static_cast<int>(elapsed));

    // A UDP worker running behind the search keeps its page up to date.
    if (udpDoneEvent_ && udpDoneEvent_ != DoneEvent)
        ShowLastProfile(kModeUdp);

    const std::shared_ptr<qz417::ManualResetEvent> done = DoneEvent;
    if (done && !done->wait(std::chrono::milliseconds(1))) {
        StartTimerView();
        return;
    }
    DoneEvent.reset();
    WorkerMode = 0;
    ButtonSearch->setEnabled(true);
    FillSearchGrid();
    // The tick ends with the timer stopped, unless a UDP worker takes the
    // view back.
    ResumeUdpView();
}

void TFormMain::FillSearchGrid() {
    const QSignalBlocker block(StringGridSearch);
    std::uint16_t r = 1;
    for (const DeviceAnnouncement *node = DeviceList.load(); node != nullptr;
         node = node->next, ++r) {
        if (r == 0xFFFF)
            break; // rows are counted in 16 bits
        StringGridSearch->setRowCount(r);
        StringGridSearch->setRowHeight(r - 1, kGridRowHeight);
        SetCell(StringGridSearch, r - 1, 0, TypeText(*node));
        SetCell(StringGridSearch, r - 1, 1, IpText(*node));
        SetCell(StringGridSearch, r - 1, 2, MacText(*node));
        if (r == 1) {
            ShowDeviceDescription(node->description);
            ButtonConnect->setEnabled(true);
            StringGridSearch->setEnabled(true);
        }
    }
}

void TFormMain::StringGridSearchClick() {
    if (const DeviceAnnouncement *node = NodeAt(CurrentPosition(StringGridSearch)))
        ShowDeviceDescription(node->description);
    else
        MemoInfo->clear();
}

void TFormMain::ButtonConnectClick() {
    const std::uint16_t position = CurrentPosition(StringGridSearch);
    if (ButtonConnect->text() != QLatin1String("Connect")) {
        DisconnectDevice();
        return;
    }
    SettleStoppedWorkers();
    const DeviceAnnouncement *node = NodeAt(position);
    if (node == nullptr) {
        MemoInfo->clear();
        return;
    }
    ShowDeviceDescription(node->description);

    // Connect and first read on the window thread: the user cannot act on a
    // half-made connection, and every step below sees a settled state.
    DeviceSocket = QZ417_Connect(node);
    if (DeviceSocket.load() == -1)
        return;
    std::array<std::uint8_t, QZ417_CONFIG_SIZE> block{};
    if (QZ417_ReadParams(DeviceSocket.load(), block.data()) == 0) {
        QZ417_Disconnect(DeviceSocket.exchange(-1));
        return;
    }
    DeviceConfig.write(block.data());

    ApplyConfigToControls();
    RequestImage = 1;
    ButtonConnect->setText(QStringLiteral("Disconnect"));
    ButtonSearch->setEnabled(false);
    SetPageVisible(PageControlQZ417, TabSheetResultViewer, true);
    SetPageVisible(PageControlQZ417, TabSheetImageGrabber, true);
    SetPageVisible(PageControlMore, TabSheetParameters, true);
    SetPageVisible(PageControlQZ417, TabSheetUDP, false);
    StartTimerView();
    ButtonResult->setText(QStringLiteral("Start"));
    ButtonResult->setEnabled(true);
    ButtonResultSave->setEnabled(false);
    ButtonGrabber->setText(QStringLiteral("Start"));
    ButtonGrabber->setEnabled(true);
    StringGridSearch->setEnabled(false);
}

void TFormMain::DisconnectDevice() {
    StopTimerView();
    // A TCP worker still running ends at its next loop test rather than on
    // a later connection; its exchange on the closed handle fails anyway.
    if (tcpRunEvent_)
        tcpRunEvent_->reset();
    QZ417_Disconnect(DeviceSocket.exchange(-1));
    ButtonConnect->setText(QStringLiteral("Connect"));
    ButtonSearch->setEnabled(true);
    PageControlQZ417->setCurrentWidget(TabSheetSearch);
    PageControlMore->setCurrentWidget(TabSheetInformation);
    SetPageVisible(PageControlQZ417, TabSheetResultViewer, false);
    SetPageVisible(PageControlQZ417, TabSheetImageGrabber, false);
    SetPageVisible(PageControlMore, TabSheetParameters, false);
    SetPageVisible(PageControlQZ417, TabSheetUDP, true);
    ButtonResult->setText(QStringLiteral("Start"));
    ButtonResult->setEnabled(true);
    ButtonGrabber->setText(QStringLiteral("Start"));
    ButtonGrabber->setEnabled(true);
    LayoutSearchGrid();
    MemoInfo->clear();
    StringGridSearch->setEnabled(false);
    // A UDP worker running on (its page is shown again) keeps being shown:
    // at once when the view is free, else once the stopped TCP worker's end
    // has been seen by the tick.
    if (udpDoneEvent_ && !ResumeUdpView())
        StartTimerView();
}
