// One application object per test binary: fonts and widgets need it.
#pragma once

#include <QApplication>
#include <QElapsedTimer>
#include <QString>
#include <QThread>

namespace vurma::test {

inline QApplication* EnsureApp() {
    static int argc = 1;
    static char name[] = "vurma_test";
    static char* argv[] = {name, nullptr};
    if (QApplication::instance() == nullptr) new QApplication(argc, argv);
    return qobject_cast<QApplication*>(QApplication::instance());
}

// Opens a file in the window and runs events until its background load has
// been applied (or `timeoutMs` has passed); true when it has.
template <class Dialog>
bool OpenAndWait(Dialog& dialog, const QString& path, int timeoutMs = 20000) {
    dialog.OpenMediaFile(path);
    QElapsedTimer clock;
    clock.start();
    while (dialog.loadPending() && clock.elapsed() < timeoutMs) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
    }
    QCoreApplication::processEvents();
    return !dialog.loadPending();
}

}  // namespace vurma::test
