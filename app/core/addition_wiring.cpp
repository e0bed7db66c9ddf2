// Wiring of what was added beside the window's own pages: the profile feed
// and the hooks through which the result workers hand it every packet, the
// "Surface" page after the other left pages, the stream-health row under
// the counters of the "UDP" page and the parameter-file buttons under the
// block's four buttons. The pieces themselves live in app/feed, app/surface,
// app/health and app/config.
#include <QTabWidget>

#include "config/params_file_buttons.h"
#include "core/app_state.h"
#include "core/form_main.h"
#include "core/worker_threads.h"
#include "feed/profile_feed.h"
#include "health/stream_health.h"
#include "health/stream_health_labels.h"
#include "model/profile_packet.h"
#include "surface/surface_view.h"

namespace {

// The "UDP" page's counter rows (see form_main.cpp): a third row below them.
constexpr int kHealthRow = 520 + 40;
constexpr int kCaptionWidth = 142;
constexpr int kValueWidth = 52;
constexpr int kSecondColumn = 4 + kCaptionWidth + 2 + kValueWidth + 4;

// The "Parameters" page's four block buttons fill rows 512 to 559
// (parameters_page.cpp) and the page is 581 high: one more row of buttons
// below them, as wide as the page's groups, in the 20 rows left.
constexpr int kParamsFileRow = 560;
constexpr int kParamsFileHeight = 20;

} // namespace

void TFormMain::BuildAdditions() {
    feed_ = qz::ProfileFeed::Create();

    TabSheetSurface = new QWidget(PageControlQZ417);
    TabSheetSurface->setObjectName(QStringLiteral("TabSheetSurface"));
    PageControlQZ417->addTab(TabSheetSurface, QStringLiteral("Surface"));
    SurfaceView = new qz::SurfaceView(TabSheetSurface, feed_, [] { return qz::CurrentScale(); });
    SurfaceView->setObjectName(QStringLiteral("SurfaceView"));
    SurfaceView->setGeometry(0, 0, 646, 580);

    UdpStreamHealth = new qz::StreamHealthLabels(TabSheetUDP, kHealthRow, kCaptionWidth,
                                                 kValueWidth, kSecondColumn);

    ParamsFile = new qz::ParamsFileButtons(this, TabSheetParameters, 4, kParamsFileRow, 273,
                                           kParamsFileHeight);
}

void TFormMain::AddFeedHooks(qz::WorkerHooks &hooks, int (*proc)(const qz::WorkerRun &)) {
    std::shared_ptr<qz::ProfileFeed> feed = feed_;
    if (proc == &qz::ResultThreadProc) {
        hooks.packetReceived = [feed](const std::uint8_t *packet) {
            feed->PushNow(packet, qz::FeedSource::TcpResult);
        };
    } else if (proc == &qz::UdpResultThreadProc) {
        // Counted from this Start on.
        auto health = std::make_shared<qz::StreamHealth>();
        UdpStreamHealth->Track(health);
        hooks.packetReceived = [feed, health](const std::uint8_t *packet) {
            feed->PushNow(packet, qz::FeedSource::Udp);
            health->Observe(qz::ProfilePacket(packet).packetCount());
        };
    }
}
