// The whole plug-in's editor as a Linux host drives it: TestGain.so loaded by the test host, its
// editor opened in the harness's window while a second thread sends idles every 20 ms, a slider
// dragged through XTEST, and the windows gone after close, open/close cycles and closing the effect.
#include "tests/common/XvfbHarness.h"
#include "tools/CoreVhst.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

// Sends effEditIdle every 20 ms until stopped, as hosts do from their GUI timer.
class IdleSender {
public:
    explicit IdleSender(CoreVhst& host)
        : thread([this, &host] {
              while (!stopping.load()) {
                  host.dispatch(effEditIdle);
                  std::this_thread::sleep_for(std::chrono::milliseconds(20));
              }
          }) {}
    ~IdleSender() { stop(); }
    void stop() {
        stopping = true;
        if (thread.joinable()) thread.join();
    }

private:
    std::atomic<bool> stopping{false};
    std::thread thread;
};

// The row of the slider handle's dark grip line in the slider's column; -1 when none shows.
int gripRow(const XvfbHarness::Capture& shot) {
    for (int y = 0; y < shot.height; ++y)
        if (shot.at(30, y) == 0x141414) return y;
    return -1;
}

} // namespace

TEST(TestGainEditor, ShowsItsEditorInTheHostWindowAndAutomatesTheGain) {
    XvfbHarness x;
    if (!x.ready()) GTEST_SKIP() << x.reason();
    CoreVhst host(TEST_GAIN_PLUGIN);
    EXPECT_NE(host.effect()->flags & effFlagsHasEditor, 0);
    ERect* rect = nullptr;
    ASSERT_EQ(host.dispatch(effEditGetRect, 0, 0, &rect), 1);
    ASSERT_NE(rect, nullptr);
    EXPECT_TRUE(rect->left == 0 && rect->top == 0 && rect->right == 60 && rect->bottom == 200);

    host.open();
    auto idles = std::make_unique<IdleSender>(host);
    ASSERT_EQ(host.dispatch(effEditOpen, 0, 0, XvfbHarness::handle(x.parent())), 1);
    ASSERT_TRUE(XvfbHarness::waitFor([&] { return x.children(x.parent()).size() == 1; }));
    const uint32_t child = x.children(x.parent()).front();
    int before = -1;
    ASSERT_TRUE(XvfbHarness::waitFor([&] { return (before = gripRow(x.capture(child))) > 0; }));

    // Drag the handle (its grip at the pointer) 60 rows up.
    const float gain = host.getParameter(0);
    x.drag(30, before, 30, before - 60, 6);
    ASSERT_TRUE(XvfbHarness::waitFor([&] { return host.getParameter(0) > gain + 0.3f; })) << host.getParameter(0);
    ASSERT_TRUE(XvfbHarness::waitFor([&] {
        const std::vector<CoreVhst::Automation> calls = host.automations();
        return !calls.empty() && calls.back().index == 0 && calls.back().value == host.getParameter(0);
    }));
    EXPECT_TRUE(XvfbHarness::waitFor([&] { return gripRow(x.capture(child)) <= before - 55; }))
        << gripRow(x.capture(child));

    // The host changes the gain: the slider follows at an idle.
    host.setParameter(0, 0.0f);
    EXPECT_TRUE(XvfbHarness::waitFor([&] { return gripRow(x.capture(child)) > before + 55; }));

    EXPECT_EQ(host.dispatch(effEditClose), 1);
    EXPECT_TRUE(XvfbHarness::waitFor([&] { return x.children(x.parent()).empty(); }));

    for (int cycle = 0; cycle < 20; ++cycle) {
        SCOPED_TRACE(cycle);
        ASSERT_EQ(host.dispatch(effEditOpen, 0, 0, XvfbHarness::handle(x.parent())), 1);
        std::this_thread::sleep_for(std::chrono::milliseconds(cycle % 3 * 10));
        ASSERT_EQ(host.dispatch(effEditClose), 1);
    }
    EXPECT_TRUE(XvfbHarness::waitFor([&] { return x.children(x.parent()).empty(); }));

    // Closing the effect with the editor open.
    ASSERT_EQ(host.dispatch(effEditOpen, 0, 0, XvfbHarness::handle(x.parent())), 1);
    ASSERT_TRUE(XvfbHarness::waitFor([&] { return x.children(x.parent()).size() == 1; }));
    idles->stop();
    host.close();
    EXPECT_TRUE(XvfbHarness::waitFor([&] { return x.children(x.parent()).empty(); }));
    EXPECT_TRUE(x.pointerGrabbable());
}
