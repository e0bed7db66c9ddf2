// Wiring of what was added beside the window's own pages: the sources of
// profiles (app/source) and the hooks through which the result workers hand
// their source every packet, the "Surface" page after the other left pages
// (bound to the live sources or the playback), the stream-health row under
// the counters of the "UDP" page, the parameter-file buttons under the
// block's four buttons, the Record controls of the "Result viewer" and "UDP"
// pages and the "Playback" page after "Surface", the "Measure" page after
// "Playback" (bound like "Surface"), the note a running
// recording takes of each parameter block written to the scanner, and the
// results of the job the "Measure" page runs on the live sources, which a
// recording of one of them stores with its profiles. The pieces
// themselves live in app/source, app/feed, app/surface, app/health,
// app/config, app/recording and app/measure. Each view is bound to its source: the
// Record control of the "Result viewer" page to the TCP source, that of the
// "UDP" page to the UDP source, the "Playback" page to the playback source,
// which carries its recording's scale and never touches the connected
// scanner's scale, pages or groups.
#include <algorithm>
#include <cstring>

#include <QMetaObject>
#include <QTabWidget>
#include <QTableWidget>

#include "config/params_file_buttons.h"
#include "core/app_state.h"
#include "core/form_main.h"
#include "core/post_gate.h"
#include "core/window_additions.h"
#include "core/worker_threads.h"
#include "health/stream_health.h"
#include "health/stream_health_labels.h"
#include "measure/measure_page.h"
#include "model/profile_packet.h"
#include "recording/playback_page.h"
#include "recording/record_controls.h"
#include "source/profile_source.h"
#include "surface/surface_view.h"

namespace {

// The "UDP" page's counter rows (see form_main.cpp): a third row below them.
constexpr int kHealthRow = 520 + 40;
constexpr int kCaptionWidth = 142;
constexpr int kValueWidth = 52;
constexpr int kSecondColumn = 4 + kCaptionWidth + 2 + kValueWidth + 4;
// The Record button under the pages' rightmost button, its status at its left
// (right of the counters).
constexpr int kRecordTop = 522 + 25 + 4;
constexpr int kRecordButtonX = 556;
constexpr int kRecordStatusX = kSecondColumn + kCaptionWidth + 2 + kValueWidth + 4;

// The "Parameters" page's four block buttons fill rows 512 to 559
// (parameters_page.cpp) and the page is 581 high: one more row of buttons
// below them, as wide as the page's groups, in the 20 rows left.
constexpr int kParamsFileRow = 560;
constexpr int kParamsFileHeight = 20;

} // namespace

void TFormMain::BuildAdditions() {
    additions_ = std::make_unique<qz417::WindowAdditions>();
    qz417::WindowAdditions &a = *additions_;
    // The live sources stamp each packet with the connected scanner's scale.
    a.sources = qz417::ProfileSources::Create(&qz417::CurrentScale);

    a.TabSheetSurface = new QWidget(PageControlQZ417);
    a.TabSheetSurface->setObjectName(QStringLiteral("TabSheetSurface"));
    PageControlQZ417->addTab(a.TabSheetSurface, QStringLiteral("Surface"));
    a.SurfaceView = new qz417::SurfaceView(
        a.TabSheetSurface, {{QStringLiteral("Live"), {a.sources.tcp, a.sources.udp}},
                            {QStringLiteral("Playback"), {a.sources.playback}}});
    a.SurfaceView->setObjectName(QStringLiteral("SurfaceView"));
    a.SurfaceView->setGeometry(0, 0, 646, 580);

    a.UdpStreamHealth = new qz417::StreamHealthLabels(TabSheetUDP, kHealthRow, kCaptionWidth,
                                                      kValueWidth, kSecondColumn);

    a.ParamsFile = new qz417::ParamsFileButtons(this, TabSheetParameters, 4, kParamsFileRow, 273,
                                                kParamsFileHeight);

    // A recording notes the announcement of the device chosen in the search
    // list and the parameter block last read or written.
    auto header = [this] {
        qz417::recording::RecordingHeader h;
        const int row = std::max(0, StringGridSearch->currentRow());
        const DeviceAnnouncement *node = DeviceList.load();
        for (int i = 0; node != nullptr && i < row; ++i)
            node = node->next;
        if (node != nullptr)
            h.announcement =
                qz417::AnnouncementBytes(node->type, node->ip, node->mac, node->description);
        const qz417::ConfigArea config = DeviceConfig.read();
        qz417::recording::ParameterBlock block{};
        std::memcpy(block.data(), config.data(), block.size());
        h.parameterBlock = block;
        return h;
    };
    a.ResultRecord = new qz417::RecordControls(TabSheetResultViewer, "ResultRecord", kRecordStatusX,
                                               kRecordButtonX, kRecordTop, a.sources.tcp, header);
    a.TabSheetPlayback = new QWidget(PageControlQZ417);
    a.TabSheetPlayback->setObjectName(QStringLiteral("TabSheetPlayback"));
    PageControlQZ417->addTab(a.TabSheetPlayback, QStringLiteral("Playback"));
    a.PlaybackView = new qz417::PlaybackPage(a.TabSheetPlayback, a.sources.playback);
    a.PlaybackView->setObjectName(QStringLiteral("PlaybackView"));
    a.PlaybackView->setGeometry(0, 0, 646, 580);

    a.UdpRecord = new qz417::RecordControls(TabSheetUDP, "UdpRecord", kRecordStatusX,
                                            kRecordButtonX, kRecordTop, a.sources.udp, header);
    qz417::StreamHealthLabels *health = a.UdpStreamHealth;
    a.UdpRecord->SetComputerDrops([health] { return health->computerDrops(); });

    a.TabSheetMeasure = new QWidget(PageControlQZ417);
    a.TabSheetMeasure->setObjectName(QStringLiteral("TabSheetMeasure"));
    PageControlQZ417->addTab(a.TabSheetMeasure, QStringLiteral("Measure"));
    a.MeasureView = new qz417::MeasurePage(
        a.TabSheetMeasure, {{QStringLiteral("Live"), {a.sources.tcp, a.sources.udp}},
                            {QStringLiteral("Playback"), {a.sources.playback}}});
    a.MeasureView->setObjectName(QStringLiteral("MeasureView"));
    a.MeasureView->setGeometry(0, 0, 646, 580);

    // The job the "Measure" page runs while bound to "Live" (choice 0, the
    // TCP and UDP sources), handed to both Record controls at each change:
    // a recording of either source stores its results.
    qz417::MeasurePage *measure = a.MeasureView;
    for (qz417::RecordControls *record : {a.ResultRecord, a.UdpRecord}) {
        const auto handJob = [measure, record] {
            qz417::MeasurePage::RunningJob running = measure->runningJob();
            record->SetMeasureJob(running.version,
                                  measure->bound() == 0 ? std::move(running.job) : nullptr);
        };
        QObject::connect(measure, &qz417::MeasurePage::runningJobChanged, record, handJob);
        handJob();
    }
}

void qz417::NoteParameterBlockWritten(WindowAdditions &additions, const std::uint8_t *block,
                                      std::int64_t wallNs) {
    qz417::recording::ParameterBlock copy{};
    std::memcpy(copy.data(), block, copy.size());
    for (qz417::RecordControls *record : {additions.ResultRecord, additions.UdpRecord})
        if (record != nullptr)
            record->NoteParameterBlock(copy, wallNs);
}

void TFormMain::AddFeedHooks(qz417::WorkerHooks &hooks, qz417::WorkerKind kind) {
    // A block the worker wrote goes to the window thread by value, with the
    // time it was written, for a running recording to note.
    std::shared_ptr<qz417::PostGate> gate = postGate_;
    hooks.configWritten = [gate](const std::uint8_t *block) {
        qz417::recording::ParameterBlock copy{};
        std::memcpy(copy.data(), block, copy.size());
        const std::int64_t wallNs = qz417::recording::ReceiveTime::Now().wallNs;
        gate->with([&](TFormMain &f) {
            QMetaObject::invokeMethod(
                &f,
                [&f, copy, wallNs] {
                    qz417::NoteParameterBlockWritten(f.Additions(), copy.data(), wallNs);
                },
                Qt::QueuedConnection);
        });
    };
    if (kind == qz417::WorkerKind::Result) {
        // The source's statistics count from this Start on.
        std::shared_ptr<qz417::ProfileSource> source = additions_->sources.tcp;
        source->NewStatistics();
        hooks.packetReceived = [source](const std::uint8_t *packet) { source->PushNow(packet); };
    } else if (kind == qz417::WorkerKind::UdpResult) {
        // The source's statistics count from this Start on.
        std::shared_ptr<qz417::ProfileSource> source = additions_->sources.udp;
        additions_->UdpStreamHealth->Track(source->NewStatistics(), ::UdpPort.load());
        hooks.packetReceived = [source](const std::uint8_t *packet) { source->PushNow(packet); };
    }
}
