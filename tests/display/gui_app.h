// One application object per test binary: fonts and widgets need it.
#pragma once

#include <QApplication>

namespace vurma::display::test {

inline void EnsureApplication() {
    static int argc = 1;
    static char name[] = "display_test";
    static char* argv[] = {name, nullptr};
    if (QApplication::instance() == nullptr) new QApplication(argc, argv);
}

}  // namespace vurma::display::test
