// Window tests with no scanner: a new window shown (offscreen) and closed
// again with its threads stopped and awaited, in one place.
#pragma once

#include <QTest>

#include <memory>

#include "core/app_state.h"
#include "core/form_main.h"

namespace qz417::test {

// A new window in `form`, shown; false when it was not exposed.
inline bool ShowWindow(std::unique_ptr<TFormMain> &form) {
    qz417::ResetAppState();
    form = std::make_unique<TFormMain>();
    FormMain = form.get();
    form->show();
    return QTest::qWaitForWindowExposed(form.get());
}

// Closes the window in `form` (if any), stops and awaits its threads.
inline void CloseWindow(std::unique_ptr<TFormMain> &form) {
    if (form) {
        form->close();
        form->ShutdownWorkers();
    }
    form.reset();
    FormMain = nullptr;
}

} // namespace qz417::test
