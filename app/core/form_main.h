// The main window of qz417setup: every control, every event handler.
//
// One class, its methods defined by concern in several files:
//   app/core/form_main.cpp          creation, layout of the left pages, close
//   app/core/timer_view.cpp         the view timer's tick and the idle duty
//   app/core/worker_control.cpp     Start/Stop handlers of the three workers
//   app/core/search_connect.cpp     search, grid, connect, DisconnectDevice
//   app/core/device_info_view.cpp   ShowDeviceDescription
//   app/core/window_posts.cpp       PostDrawImageFrame, PostApplyConfigToControls, worker hooks
//   app/views/live_view.cpp         the view duties of the tick (charts, counters, rates)
//   app/views/image_view_form.cpp   CreateImageView, DrawImageFrame, window selection
//   app/views/save_button.cpp       ButtonResultSaveClick
//   app/config/parameters_page.cpp  the "Parameters" page, its change steps, ApplyConfigToControls
//   app/config/angle_calibration_form.cpp  the angle group's handlers
//   app/core/addition_wiring.cpp    the pages and rows added beside the window's
//                                   own (surface view, stream health, parameter
//                                   files) and the
//                                   profile feed's hooks
// State that only one concern uses lives in that concern's file, not here.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

#include <QWidget>

class QCheckBox;
class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QSlider;
class QTableWidget;
class QTabWidget;
class QTimer;

namespace qz417 {
struct WindowAdditions;
class ManualResetEvent;
class PostGate;
class ProfileChart;
class ThreadOwner;
class VideoPanel;
struct DeviceDescription;
struct Worker;
struct WorkerHooks;
struct WorkerRun;
enum class WorkerKind : std::uint8_t;
} // namespace qz417

class TFormMain : public QWidget {
    Q_OBJECT

public:
    explicit TFormMain(QWidget *parent = nullptr);
    ~TFormMain() override;

    // ---- shared window routines (callable from the window thread only) ----
    void ShowDeviceDescription(const std::uint8_t *description);
    void ApplyConfigToControls();
    void DrawImageFrame();
    void DisconnectDevice();

    // Thread-safe: hand a redraw or a refresh of the parameter page to the
    // window thread (queued; repeated requests before it runs coalesce).
    void PostDrawImageFrame();
    void PostApplyConfigToControls();

    // ---- the view timer ----
    void TimerViewTimer();
    void StartTimerView();
    void StopTimerView();

    // ---- handlers: search page and connection ----
    void ButtonSearchClick();
    void StringGridSearchClick();
    void ButtonConnectClick();

    // ---- handlers: Start/Stop of the workers ----
    void ButtonResultClick();
    void ButtonGrabberClick();
    void ButtonUDPResultClick();
    void ButtonResultSaveClick();

    // ---- handlers: image window selection (all four panels) ----
    void PanelVideoMouseDown(Qt::MouseButton button, int x, int y);
    void PanelVideoMouseMove(int x, int y);
    void PanelVideoMouseUp(Qt::MouseButton button, int x, int y);

    // ---- handlers: parameters page ----
    void TrackBarLaserChange();
    void TrackBarIntegrationChange();
    void TrackBarAngleChange();
    void CheckBoxResultSyncEnableClick();
    void RadioButtonResultSyncRisingClick();
    void CheckBoxMeasureSyncEnableClick();
    void RadioButtonMeasureSyncRisingClick();
    void CheckBoxAnalogSyncEnableClick();
    void RadioButtonAnalogSyncRisingClick();
    void CheckBoxAnalogSyncLevelClick();
    void ComboBoxSyncDividerChange();
    void ComboBoxSyncDelayChange();
    void ComboBoxAnalogOutPointsChange();
    void ComboBoxAnalogOutTimeChange();
    void ComboBoxUDPFrequencyChange();
    void EditAddressExit(QLineEdit *edit, int byteOffset); // the twelve address edits
    void EditUDPPortExit();
    void ButtonReadCfgClick();
    void ButtonWriteCfgClick();
    void ButtonFlushCfgClick();
    void ButtonDefaultCfgClick();
    void ButtonAngleResetClick();
    void ButtonAngleCalcClick();
    void ButtonAngleApplyClick();

    // ---- controls (objectName == member name) ----
    QTabWidget *PageControlQZ417 = nullptr;
    QWidget *TabSheetSearch = nullptr;
    QWidget *TabSheetResultViewer = nullptr;
    QWidget *TabSheetImageGrabber = nullptr;
    QWidget *TabSheetUDP = nullptr;
    QTabWidget *PageControlMore = nullptr;
    QWidget *TabSheetInformation = nullptr;
    QWidget *TabSheetParameters = nullptr;

    // "Search QZ417"
    QFrame *Panel4 = nullptr;
    QTableWidget *StringGridSearch = nullptr;
    QProgressBar *ProgressBarSearch = nullptr;
    QPushButton *ButtonSearch = nullptr;
    QPushButton *ButtonConnect = nullptr;

    // "Result viewer"
    QFrame *Panel1 = nullptr;
    qz417::ProfileChart *ChartResult = nullptr;
    QLabel *LabelResultCnt = nullptr;
    QLabel *LabelPacksCnt = nullptr;
    QLabel *LabelResultPerSec = nullptr;
    QLabel *LabelPacksPerSec = nullptr;
    QPushButton *ButtonResult = nullptr;
    QPushButton *ButtonResultSave = nullptr;

    // "Image viewer"
    qz417::VideoPanel *PanelVideo = nullptr;
    QLabel *LabelFrameCnt = nullptr;
    QLabel *LabelFramePerSec = nullptr;
    QPushButton *ButtonGrabber = nullptr;

    // "UDP"
    QFrame *Panel6 = nullptr;
    qz417::ProfileChart *ChartUDP = nullptr;
    QLabel *LabelResultUDPCnt = nullptr;
    QLabel *LabelPacksUDPCnt = nullptr;
    QLabel *LabelResultUDPPerSec = nullptr;
    QLabel *LabelPacksUDPPerSec = nullptr;
    QPushButton *ButtonUDPResult = nullptr;
    QLineEdit *EditUDPPrt = nullptr;

    // "Information"
    QPlainTextEdit *MemoInfo = nullptr;

    // "Parameters"
    QGroupBox *GroupBoxLaser = nullptr;
    QSlider *TrackBarLaser = nullptr;
    QGroupBox *GroupBoxIntegration = nullptr;
    QSlider *TrackBarIntegration = nullptr;
    QGroupBox *GroupBoxAngle = nullptr;
    QSlider *TrackBarAngle = nullptr;
    QPushButton *ButtonAngleReset = nullptr;
    QPushButton *ButtonAngleCalc = nullptr;
    QPushButton *ButtonAngleApply = nullptr;
    QGroupBox *GroupBoxExtSig = nullptr;
    QGroupBox *GroupBoxResultSync = nullptr;
    QCheckBox *CheckBoxResultSyncEnable = nullptr;
    QRadioButton *RadioButtonResultSyncRising = nullptr;
    QRadioButton *RadioButtonResultSyncFalling = nullptr;
    QGroupBox *GroupBoxMeasureSync = nullptr;
    QCheckBox *CheckBoxMeasureSyncEnable = nullptr;
    QRadioButton *RadioButtonMeasureSyncRising = nullptr;
    QRadioButton *RadioButtonMeasureSyncFalling = nullptr;
    QGroupBox *GroupBoxAnalogSync = nullptr;
    QCheckBox *CheckBoxAnalogSyncEnable = nullptr;
    QRadioButton *RadioButtonAnalogSyncRising = nullptr;
    QRadioButton *RadioButtonAnalogSyncFalling = nullptr;
    QCheckBox *CheckBoxAnalogSyncLevel = nullptr;
    QLabel *LabelSyncDivider = nullptr;
    QComboBox *ComboBoxSyncDivider = nullptr;
    QLabel *LabelSyncDelay = nullptr;
    QComboBox *ComboBoxSyncDelay = nullptr;
    QGroupBox *GroupBoxAnalogOut = nullptr;
    QLabel *LabelAnalogOutPoints = nullptr;
    QComboBox *ComboBoxAnalogOutPoints = nullptr;
    QLabel *LabelAnalogOutTime = nullptr;
    QComboBox *ComboBoxAnalogOutTime = nullptr;
    QGroupBox *GroupBoxInterface = nullptr;
    QGroupBox *GroupBoxEthernrt = nullptr;
    QLineEdit *EditInterfaceIP0 = nullptr;
    QLineEdit *EditInterfaceIP1 = nullptr;
    QLineEdit *EditInterfaceIP2 = nullptr;
    QLineEdit *EditInterfaceIP3 = nullptr;
    QLineEdit *EditInterfaceMask0 = nullptr;
    QLineEdit *EditInterfaceMask1 = nullptr;
    QLineEdit *EditInterfaceMask2 = nullptr;
    QLineEdit *EditInterfaceMask3 = nullptr;
    QGroupBox *GroupBoxUDP = nullptr;
    QLineEdit *EditUDPIP0 = nullptr;
    QLineEdit *EditUDPIP1 = nullptr;
    QLineEdit *EditUDPIP2 = nullptr;
    QLineEdit *EditUDPIP3 = nullptr;
    QLineEdit *EditUDPPort = nullptr;
    QComboBox *ComboBoxUDPFrequency = nullptr;
    QPushButton *ButtonReadCfg = nullptr;
    QPushButton *ButtonWriteCfg = nullptr;
    QPushButton *ButtonFlushCfg = nullptr;
    QPushButton *ButtonDefaultCfg = nullptr;

    QTimer *TimerView = nullptr;

    // The pieces added beside the window's own pages (core/window_additions.h).
    qz417::WindowAdditions &Additions() { return *additions_; }

    // Caption labels beside the counters (not used by any step).
    QLabel *LabelResultCntTitle = nullptr;
    QLabel *LabelPacksCntTitle = nullptr;
    QLabel *LabelResultPerSecTitle = nullptr;
    QLabel *LabelPacksPerSecTitle = nullptr;
    QLabel *LabelFrameCntTitle = nullptr;
    QLabel *LabelFramePerSecTitle = nullptr;
    QLabel *LabelResultUDPCntTitle = nullptr;
    QLabel *LabelPacksUDPCntTitle = nullptr;
    QLabel *LabelResultUDPPerSecTitle = nullptr;
    QLabel *LabelPacksUDPPerSecTitle = nullptr;
    QLabel *LabelUDPPrt = nullptr;

    // Stops every running thread and waits for all of them (at most about
    // 6 s: a search cannot be cut short). Run once at shutdown; the window's
    // destructor runs it too.
    void ShutdownWorkers();
    // The threads of this window (tests look at them).
    qz417::ThreadOwner &Threads() { return *threads_; }
    // How long a search listens; 5000 ms unless a test shortens it.
    void SetSearchTimeoutForTest(std::uint16_t ms) { searchTimeoutMs_ = ms; }

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    // Creation steps (FormCreate calls them in order).
    void FormCreate();
    void FormClose();
    void BuildSearchPage();
    void BuildResultPage();
    void BuildImagePage();
    void BuildUdpPage();
    void BuildInformationPage();
    void BuildParametersPage(); // app/config/parameters_page.cpp
    void FillParameterLists();  // app/config/parameters_page.cpp
    void CreateImageView();     // app/views/image_view_form.cpp
    void DestroyImageView();    // app/views/image_view_form.cpp

    // Duties of the view timer's tick.
    void SearchDuty();                      // app/core/search_connect.cpp
    void IdleDuty();                        // app/core/timer_view.cpp
    void ResultViewDuty(std::uint8_t mode); // modes 2 and 8, app/views/live_view.cpp
    void ImageCountersDuty();               // mode 4, app/views/live_view.cpp

    // Search page helpers (app/core/search_connect.cpp).
    void LayoutSearchGrid();
    void FillSearchGrid();

    // Worker plumbing (app/core/window_posts.cpp, app/core/worker_control.cpp).
    qz417::WorkerHooks MakeWorkerHooks(bool withSave);
    bool StartWorkerThread(const qz417::Worker &worker, std::size_t stackBytes, bool timeCritical,
                           qz417::WorkerRun run);
    // A worker told to stop whose end no tick has seen yet: waits for it to
    // finish its pass and does what the tick does at its end.
    void SettleStoppedWorkers();
    // The tick's step at a worker's end: its page's labels back to "0" and,
    // if it held the view, WorkerMode 0 and DoneEvent closed.
    void ResetEndedWorker(std::uint8_t mode, std::shared_ptr<qz417::ManualResetEvent> done);
    // Gives the view back to a UDP worker that ran on behind a search or a
    // TCP worker, once the view is free; true when it did (the timer runs).
    bool ResumeUdpView();
    void UdpPortFailed(const std::shared_ptr<qz417::ManualResetEvent> &done, std::uint16_t port,
                       int error);
    // The next rates are taken over the counters' motion since the first
    // packet published after this call (app/views/live_view.cpp).
    void BeginRates();
    // Steps 2 to 4 of the result view: plot, counters (app/views/live_view.cpp).
    std::uint64_t ShowLastProfile(std::uint8_t mode);
    // Additions (app/core/addition_wiring.cpp).
    void BuildAdditions();
    void AddFeedHooks(qz417::WorkerHooks &hooks, qz417::WorkerKind kind);

    std::unique_ptr<qz417::WindowAdditions> additions_;

    std::unique_ptr<qz417::ThreadOwner> threads_;
    std::shared_ptr<qz417::PostGate> postGate_;
    // Events of the last TCP worker (result or image) and of the last UDP
    // worker: each Stop button stops its own worker even when another thread
    // was started meanwhile. A done event is kept until that worker's end has
    // been seen, so a worker that runs on behind another keeps its page.
    std::shared_ptr<qz417::ManualResetEvent> tcpRunEvent_;
    std::shared_ptr<qz417::ManualResetEvent> tcpDoneEvent_;
    std::uint8_t tcpMode_ = 0;
    std::shared_ptr<qz417::ManualResetEvent> udpRunEvent_;
    std::shared_ptr<qz417::ManualResetEvent> udpDoneEvent_;
    std::shared_ptr<std::atomic<bool>> udpPublishes_;
    std::atomic<bool> drawPosted_{false};
    std::atomic<bool> applyPosted_{false};
    bool closed_ = false;
    std::uint16_t searchTimeoutMs_ = 5000;
};
