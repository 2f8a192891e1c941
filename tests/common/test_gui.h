// One application object per test binary: fonts and widgets need it.
#pragma once

#include <QApplication>

namespace vurma::test {

inline QApplication* EnsureApp() {
    static int argc = 1;
    static char name[] = "vurma_test";
    static char* argv[] = {name, nullptr};
    if (QApplication::instance() == nullptr) new QApplication(argc, argv);
    return qobject_cast<QApplication*>(QApplication::instance());
}

}  // namespace vurma::test
