// Waiting on the offscreen window while the real engine plays.
#pragma once

#include <gtest/gtest.h>

#include <QTest>

#include "dialog_probe.h"
#include "media/grabber_callback.h"
#include "test_gui.h"

namespace vurma::reliability {

// Runs the event loop until the capture is finished (samples loaded).
inline bool WaitForCaptureEnd(const app::test::TestDialog& d, int timeoutMs = 15000) {
    return QTest::qWaitFor([&] { return d.m_bLoaded == 1; }, timeoutMs);
}

// Runs the event loop until the capture has taken some bytes.
inline bool WaitForCapturing(const app::test::TestDialog& d, int timeoutMs = 10000) {
    return QTest::qWaitFor(
        [&] {
            return d.m_model->block() != nullptr &&
                   d.m_model->block()->m_nDataLen.load(std::memory_order_acquire) > 0;
        },
        timeoutMs);
}

}  // namespace vurma::reliability
