// The pieces added beside the window's own pages, as TFormMain holds them:
// created and wired by TFormMain::BuildAdditions (addition_wiring.cpp); each
// lives in its own folder (app/source, app/feed, app/surface, app/health,
// app/config, app/recording, app/measure). Widgets are owned by their Qt parents.
#pragma once

#include <cstdint>
#include <memory>

#include "source/profile_source.h"

class QWidget;

namespace qz417 {

class MeasurePage;
class ParamsFileButtons;
class PlaybackPage;
class RecordControls;
class StreamHealthLabels;
class SurfaceView;

struct WindowAdditions {
    // The sources of profiles (app/source): the TCP result worker, the UDP
    // worker and the playback, each with its own feed, scale and
    // statistics. Views subscribe to the source they are bound to.
    qz417::ProfileSources sources;
    // The "Surface" page after the window's own pages (app/surface).
    QWidget *TabSheetSurface = nullptr;
    qz417::SurfaceView *SurfaceView = nullptr;
    // The stream-health row of the "UDP" page (app/health).
    qz417::StreamHealthLabels *UdpStreamHealth = nullptr;
    // "Save to file" / "Load from file" of the "Parameters" page (app/config).
    qz417::ParamsFileButtons *ParamsFile = nullptr;
    // Record buttons of the "Result viewer" and "UDP" pages (app/recording).
    qz417::RecordControls *ResultRecord = nullptr;
    qz417::RecordControls *UdpRecord = nullptr;
    // The "Playback" page after "Surface" (app/recording).
    QWidget *TabSheetPlayback = nullptr;
    qz417::PlaybackPage *PlaybackView = nullptr;
    // The "Measure" page after "Playback" (app/measure).
    QWidget *TabSheetMeasure = nullptr;
    qz417::MeasurePage *MeasureView = nullptr;
};

// A parameter block (QZ417_CONFIG_SIZE bytes) was written to the scanner at
// wall-clock time wallNs: a running recording notes it. Window thread only.
void NoteParameterBlockWritten(WindowAdditions &additions, const std::uint8_t *block,
                               std::int64_t wallNs);

} // namespace qz417
