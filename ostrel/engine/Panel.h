// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/BarHolder.h"
#include "platform/TextHolder.h"

#include <array>

namespace ostrel {

// Everything a benchmark run shows, as holders of values and texts. A window
// binds its widgets to these; ostrel-cli prints them. Bars range 0 to 100.
struct Panel
{
    platform::BarHolder intScoreProgress;
    platform::TextHolder intScoreLabel;
    platform::BarHolder doubleScoreProgress;
    platform::TextHolder doubleScoreLabel;
    platform::BarHolder piScoreProgress;
    platform::TextHolder piScoreLabel;
    platform::BarHolder memoryScoreProgress;
    platform::TextHolder memoryScoreLabel;
    platform::TextHolder diskScoreLabel;
    platform::BarHolder diskScoreProgress;
    platform::TextHolder allScoreLabel;
    platform::BarHolder allScoreProgress;
    platform::TextHolder lastTime;
    platform::BarHolder testingProgress;
    platform::TextHolder testingState;
};

// One of the five tests: its stored key, the text shown while it runs, and
// where its score is shown.
struct TestKind
{
    const char* key;
    // What the test is called on screen.
    const char16_t* title;
    const char16_t* stateText;
    platform::BarHolder Panel::*scoreProgress;
    platform::TextHolder Panel::*scoreLabel;
};

// The five tests in the order in which they run.
inline constexpr std::array<TestKind, 5> kTestKinds { {
    { "int", u"整数运算", u"正在测试 整数运算", &Panel::intScoreProgress, &Panel::intScoreLabel },
    { "double", u"浮点运算", u"正在测试 浮点运算", &Panel::doubleScoreProgress, &Panel::doubleScoreLabel },
    { "pi", u"综合运算(Pi)", u"正在测试 综合运算(Pi)", &Panel::piScoreProgress, &Panel::piScoreLabel },
    { "memory", u"内存读写", u"正在测试 内存读写", &Panel::memoryScoreProgress, &Panel::memoryScoreLabel },
    { "disk", u"磁盘读写", u"正在测试 磁盘读写", &Panel::diskScoreProgress, &Panel::diskScoreLabel },
} };

} // namespace ostrel
