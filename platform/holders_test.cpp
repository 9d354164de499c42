// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/BarHolder.h"
#include "platform/TextHolder.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <thread>
#include <vector>

using platform::BarHolder;
using platform::TextHolder;

namespace {

// Lives on the main thread and records what the holders announce.
struct Recorder : QObject
{
    std::vector<double> values;
    std::vector<QString> texts;
    std::vector<bool> hidden;
};

void drainEvents()
{
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents();
}

} // namespace

TEST(BarHolder, BoundsEveryValueToItsRange)
{
    const double inf = std::numeric_limits<double>::infinity();
    const struct {
        double set;
        double expected;
    } cases[] = {
        { 0.0, 0.0 }, { 87.5, 87.5 }, { 100.0, 100.0 }, { -0.0, 0.0 }, { -12.0, 0.0 }, { 240.0, 100.0 },
        { inf, 100.0 }, { -inf, 0.0 }, { std::nan(""), 0.0 },
    };
    BarHolder bar(0.0, 100.0);
    for (const auto& c : cases) {
        bar.setValue(c.set);
        EXPECT_EQ(bar.value(), c.expected) << "set " << c.set;
    }
}

TEST(BarHolder, KeepsItsOwnRange)
{
    BarHolder bar(10.0, 20.0);
    EXPECT_EQ(bar.value(), 10.0);
    bar.setValue(5.0);
    EXPECT_EQ(bar.value(), 10.0);
    bar.setValue(std::nan(""));
    EXPECT_EQ(bar.value(), 10.0);
    bar.setValue(25.0);
    EXPECT_EQ(bar.value(), 20.0);
}

TEST(BarHolder, ReadAfterSetOnAWorkerSeesTheBoundedValue)
{
    BarHolder bar;
    int mismatches = 0;
    std::thread worker([&] {
        for (int i = -50; i <= 150; ++i) {
            bar.setValue(i + 0.25);
            if (bar.value() != bar.bounded(i + 0.25))
                ++mismatches;
        }
    });
    worker.join();
    EXPECT_EQ(mismatches, 0);
    EXPECT_EQ(bar.value(), 100.0);
}

TEST(BarHolder, QueuedViewReplaysEveryChangeInOrderWithoutBlockingTheWriter)
{
    BarHolder bar;
    Recorder view;
    QObject::connect(&bar, &BarHolder::valueChanged, &view, [&](double v) { view.values.push_back(v); },
        Qt::QueuedConnection);
    QObject::connect(&bar, &BarHolder::hiddenChanged, &view, [&](bool h) { view.hidden.push_back(h); },
        Qt::QueuedConnection);

    // The main thread handles no events until the writer is done: a writer
    // that waited for the view would never finish.
    std::thread worker([&] {
        for (int i = 1; i <= 100; ++i)
            bar.setValue(i);
        bar.setValue(130.0);
        bar.setHidden(true);
    });
    worker.join();
    drainEvents();

    ASSERT_EQ(view.values.size(), 101u);
    for (int i = 1; i <= 100; ++i)
        EXPECT_EQ(view.values[i - 1], double(i));
    EXPECT_EQ(view.values.back(), 100.0) << "the view is told the bounded value";
    EXPECT_EQ(view.hidden, std::vector<bool> { true });
}

TEST(BarHolder, LastAnnouncedValueMatchesTheHolderWhenTwoThreadsWrite)
{
    BarHolder bar;
    Recorder view;
    QObject::connect(&bar, &BarHolder::valueChanged, &view, [&](double v) { view.values.push_back(v); },
        Qt::QueuedConnection);
    auto writer = [&](double base) {
        for (int i = 0; i < 2000; ++i)
            bar.setValue(base + (i % 40));
    };
    std::thread a(writer, 0.0);
    std::thread b(writer, 50.0);
    a.join();
    b.join();
    drainEvents();
    ASSERT_EQ(view.values.size(), 4000u);
    EXPECT_EQ(view.values.back(), bar.value());
}

TEST(TextHolder, ReadAfterSetAndOrderedAnnouncements)
{
    TextHolder label(QStringLiteral("0分"));
    EXPECT_EQ(label.text(), QStringLiteral("0分"));
    EXPECT_FALSE(label.isHidden());

    Recorder view;
    QObject::connect(&label, &TextHolder::textChanged, &view, [&](const QString& t) { view.texts.push_back(t); },
        Qt::QueuedConnection);
    QObject::connect(&label, &TextHolder::hiddenChanged, &view, [&](bool h) { view.hidden.push_back(h); },
        Qt::QueuedConnection);

    int mismatches = 0;
    std::thread worker([&] {
        for (int i = 0; i < 300; ++i) {
            const QString text = QString::number(i) + QStringLiteral("分");
            label.setText(text);
            if (label.text() != text)
                ++mismatches;
        }
        label.setHidden(true);
        label.setHidden(false);
    });
    worker.join();
    drainEvents();

    EXPECT_EQ(mismatches, 0);
    ASSERT_EQ(view.texts.size(), 300u);
    for (int i = 0; i < 300; ++i)
        EXPECT_EQ(view.texts[i], QString::number(i) + QStringLiteral("分"));
    EXPECT_EQ(view.hidden, (std::vector<bool> { true, false }));
}

TEST(TextHolder, ReadersOnOtherThreadsAlwaysSeeAWholeText)
{
    TextHolder label;
    const QString a(500, QLatin1Char('a'));
    const QString b(700, QChar(0x5206));
    std::atomic<bool> done { false };
    int torn = 0;
    std::thread reader([&] {
        while (!done.load()) {
            const QString seen = label.text();
            if (!seen.isEmpty() && seen != a && seen != b)
                ++torn;
        }
    });
    for (int i = 0; i < 5000; ++i)
        label.setText(i % 2 ? a : b);
    done = true;
    reader.join();
    EXPECT_EQ(torn, 0);
}
