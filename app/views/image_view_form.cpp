// The "Image viewer" side of the main window: the off-screen picture, its
// drawing on the window thread, and the window selection with the mouse on
// the four 640 x 512 panels.
#include <memory>
#include <optional>

#include <QEvent>
#include <QFrame>
#include <QMouseEvent>

#include "core/app_state.h"
#include "core/form_main.h"
#include "core/image_window.h"
#include "views/frame_renderer.h"
#include "views/save_waits.h"
#include "widgets/video_panel.h"

namespace {

// True when a press at p belongs to the panel itself. On a framed panel
// (Panel4, Panel1, Panel6) the grid or chart inside covers everything but
// the frame; Qt hands a press that such a child does not take (because it
// is disabled, or ignores presses) on to the panel, and that press must not
// start a window selection. So only presses on the frame count there.
bool PressOnPanelItself(const QObject *watched, const QPoint &p) {
    const auto *frame = qobject_cast<const QFrame *>(watched);
    if (frame == nullptr)
        return true; // PanelVideo: the whole picture
    return !frame->contentsRect().contains(p);
}

// Routes the mouse events of a panel to the window's three handlers, with
// coordinates of the panel that received them.
class PanelMouseFilter final : public QObject {
public:
    explicit PanelMouseFilter(TFormMain *form) : QObject(form), form_(form) {}

protected:
    bool eventFilter(QObject *watched, QEvent *event) override {
        switch (event->type()) {
        case QEvent::MouseButtonPress: {
            const auto *m = static_cast<QMouseEvent *>(event);
            const QPoint p = m->position().toPoint();
            if (PressOnPanelItself(watched, p))
                form_->PanelVideoMouseDown(m->button(), p.x(), p.y());
            break;
        }
        case QEvent::MouseMove: {
            const QPoint p = static_cast<QMouseEvent *>(event)->position().toPoint();
            form_->PanelVideoMouseMove(p.x(), p.y());
            break;
        }
        case QEvent::MouseButtonRelease: {
            const auto *m = static_cast<QMouseEvent *>(event);
            const QPoint p = m->position().toPoint();
            form_->PanelVideoMouseUp(m->button(), p.x(), p.y());
            break;
        }
        default:
            break;
        }
        return QObject::eventFilter(watched, event);
    }

private:
    TFormMain *form_;
};

std::unique_ptr<qz417::FrameRenderer> g_renderer;
PanelMouseFilter *g_mouseFilter = nullptr;

// What the panel shows now, so that a draw that would show the same again is skipped.
std::optional<std::uint64_t> g_drawnSequence;
qz417::WindowRectangle g_drawnOutline;

} // namespace

void TFormMain::CreateImageView() {
    qz417::ResetImageWindow();
    g_renderer = std::make_unique<qz417::FrameRenderer>();
    g_drawnSequence.reset();
    qz417::ResetSaveWaits();
    g_mouseFilter = new PanelMouseFilter(this);
    for (QWidget *panel : {static_cast<QWidget *>(PanelVideo), static_cast<QWidget *>(Panel4),
                           static_cast<QWidget *>(Panel1), static_cast<QWidget *>(Panel6)}) {
        if (panel)
            panel->installEventFilter(g_mouseFilter);
    }
}

void TFormMain::DestroyImageView() {
    qz417::ReleaseSaveWaits();
    for (QWidget *panel : {static_cast<QWidget *>(PanelVideo), static_cast<QWidget *>(Panel4),
                           static_cast<QWidget *>(Panel1), static_cast<QWidget *>(Panel6)}) {
        if (panel && g_mouseFilter)
            panel->removeEventFilter(g_mouseFilter);
    }
    delete g_mouseFilter;
    g_mouseFilter = nullptr;
    g_renderer.reset();
    g_drawnSequence.reset();
}

void TFormMain::DrawImageFrame() {
    if (!g_renderer || !PanelVideo)
        return;
    const qz417::WindowRectangle outline = qz417::OutlinedWindow();
    if (g_drawnSequence && *g_drawnSequence == ImageBuffer.sequence() && g_drawnOutline == outline)
        return; // the panel already shows this picture with this outline
    g_drawnSequence = ImageBuffer.read(g_renderer->frameBytes());
    g_drawnOutline = outline;
    PanelVideo->showFrame(g_renderer->Render(outline));
}

void TFormMain::PanelVideoMouseDown(Qt::MouseButton button, int x, int y) {
    if (button == Qt::LeftButton)
        qz417::BeginWindowSelection(x, y);
}

void TFormMain::PanelVideoMouseMove(int x, int y) {
    qz417::MoveWindowSelection(x, y);
}

void TFormMain::PanelVideoMouseUp(Qt::MouseButton button, int x, int y) {
    if (button != Qt::LeftButton)
        return;
    // The release point ends the drag even when no move reported it.
    qz417::MoveWindowSelection(x, y);
    qz417::EndWindowSelection();
}
