#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>

#include "runtime/hooks.h"

namespace {
std::string order;
void v1(const cell*, int32_t nl) { order += "a" + std::to_string(nl); }
void v2(const cell*, int32_t nl) { order += "b" + std::to_string(nl); }
void t1(const char* s, int32_t n, int32_t) { order += "t:" + std::string(s, n); }
// Unregisters itself while the fire walks the list.
void self_removing(const cell*, int32_t) {
    order += "s";
    hooks::unregister(self_removing, nullptr);
}
}  // namespace

TEST(Hooks, ListsGrowFireInOrderAndUnregisterFirstMatch) {
    auto& values = hooks::value_listeners;
    const uint32_t count = values.count;
    for (auto f : {v1, v1, v1, v2, v1, v2}) hooks::register_(f, nullptr);
    EXPECT_EQ(values.count, count + 6);
    EXPECT_EQ(values.capacity % 5, 0u) << "grows by 5";
    order.clear();
    hooks::fire_2(nullptr, 1);
    EXPECT_EQ(order, "a1a1a1b1a1b1");

    hooks::unregister(v1, nullptr);  // only the first of the four
    order.clear();
    hooks::fire_2(nullptr, 0);
    EXPECT_EQ(order, "a0a0b0a0b0");

    hooks::register_(nullptr, t1);  // a text listener alone
    EXPECT_EQ(values.count, count + 5);
    order.clear();
    hooks::fire_3("xyz", 2, 0);
    EXPECT_EQ(order, "t:xy");
    hooks::unregister(nullptr, t1);
    hooks::unregister(nullptr, nullptr);  // changes nothing
    for (auto f : {v1, v1, v2, v1, v2}) hooks::unregister(f, nullptr);
    EXPECT_EQ(values.count, count);
}

TEST(Hooks, ListenerMayChangeTheListWhileFiring) {
    hooks::register_(self_removing, nullptr);
    hooks::register_(v2, nullptr);
    order.clear();
    hooks::fire_2(nullptr, 1);
    EXPECT_EQ(order, "sb1");
    order.clear();
    hooks::fire_2(nullptr, 1);
    EXPECT_EQ(order, "b1");
    hooks::unregister(v2, nullptr);
}

TEST(BuildInfo, DateForm) {
    // "dd-Mon-yyyy/hh:mm:ss"
    const char* d = build::date();
    int day = 0, year = 0, h = 0, m = 0, sec = 0, used = 0;
    char month[4] = {};
    ASSERT_EQ(sscanf(d, "%d-%3[A-Za-z]-%d/%2d:%2d:%2d%n", &day, month, &year, &h, &m, &sec, &used), 6) << d;
    EXPECT_EQ((size_t)used, strlen(d));
    EXPECT_TRUE(day >= 1 && day <= 31 && year >= 2026 && h < 24 && m < 60 && sec < 61) << d;
    EXPECT_TRUE(isupper((unsigned char)month[0]) && islower((unsigned char)month[2])) << d;
}
