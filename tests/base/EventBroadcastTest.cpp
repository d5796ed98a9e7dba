// The usage event channel.
#include "base/EventListener.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

struct Recorder : EventListener {
    void OnEvent(int event, int param) override { heard.push_back({event, param}); }
    std::vector<std::pair<int, int>> heard;
};

TEST(EventBroadcast, EventsThatNobodyHearsAreNotKeptForLaterListeners) {
    Recorder gone, late;
    RegisterEventListener(&gone);
    UnregisterEventListener(&gone);
    UnregisterEventListener(&gone);  // no longer registered: nothing to remove
    BroadcastEvent(WidgetStarted, 0);
    RegisterEventListener(&late);
    BroadcastEvent(WidgetShown, 1);
    UnregisterEventListener(&late);
    EXPECT_TRUE(gone.heard.empty());
    EXPECT_EQ(late.heard, (std::vector<std::pair<int, int>>{{WidgetShown, 1}}));
}

TEST(EventBroadcast, ListenersHearInRegistrationOrderAndOneUnregisterRemovesAll) {
    std::vector<int> order;
    struct Tagged : EventListener {
        Tagged(int tag, std::vector<int>& order) : tag(tag), order(order) {}
        void OnEvent(int, int) override { order.push_back(tag); }
        int tag;
        std::vector<int>& order;
    } first(1, order), second(2, order);

    RegisterEventListener(&first);
    RegisterEventListener(&second);
    RegisterEventListener(&first);
    BroadcastEvent(TabSelected, 3);
    EXPECT_EQ(order, (std::vector<int>{1, 2, 1}));

    UnregisterEventListener(&first);
    order.clear();
    BroadcastEvent(TabSelected, 3);
    EXPECT_EQ(order, (std::vector<int>{2}));
    UnregisterEventListener(&second);

    Recorder recorder;
    RegisterEventListener(&recorder);
    BroadcastEvent(TabSelected, 5);
    UnregisterEventListener(&recorder);
    BroadcastEvent(TabSelected, 4);
    EXPECT_EQ(recorder.heard, (std::vector<std::pair<int, int>>{{TabSelected, 5}}));
}

}  // namespace
