// Times the user list manager with 100, 1000 and the largest table (10922 correspondents):
// opening it, sorting by each column and applying, against a plain QTreeWidget filled and
// sorted with the same rows, measured in the same run and alternating so both see the same
// machine.

#include "BenchSupport.h"
#include "app/Global.h"
#include "windows/ModifyUser.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>
#include <cstdio>
#include <vector>

namespace {

using bench::fail;
using bench::median;

constexpr int WarmUpRounds = 1;
constexpr int MeasuredRounds = 7;

struct Timing
{
    double openMs = 0;
    double sortMs[3] = {};
    double applyMs = 0;
};

double elapsedMs(const QElapsedTimer& timer)
{
    return static_cast<double>(timer.nsecsElapsed()) / 1e6;
}

UserTable sampleTable(int count)
{
    UserTable table = DimUsers(count);
    for (int i = 1; i <= count; ++i) {
        // Names and addresses out of order, so that every sort has work to do.
        const int scrambled = (i * 7919) % count + 1;
        table[static_cast<std::size_t>(i)] = {
            QStringLiteral("User %1").arg(scrambled),
            QStringLiteral("10.%1.%2.%3").arg(scrambled % 200).arg(i / 256 % 256).arg(i % 256),
            1024 + (i * 31) % 60000, i};
    }
    return table;
}

void showAndWait(QWidget* widget)
{
    widget->show();
    if (!QTest::qWaitForWindowExposed(widget))
        fail(QStringLiteral("the window was never shown"));
}

Timing managerRound(const UserTable& table)
{
    const int count = UBound(table);
    Global::Users = table;
    Timing timing;
    QElapsedTimer clock;
    clock.start();
    ModifyUser manager;
    showAndWait(&manager);
    timing.openMs = elapsedMs(clock);
    if (manager.list().ListItems.Count() != count)
        fail(QStringLiteral("the manager shows %1 rows").arg(manager.list().ListItems.Count()));
    for (int column = 0; column < 3; ++column) {
        clock.restart();
        emit manager.listuser->header()->sectionClicked(column);
        QCoreApplication::processEvents();
        timing.sortMs[column] = elapsedMs(clock);
        if (!manager.list().Sorted() || manager.list().SortKey != column)
            fail(QStringLiteral("a header click did not sort"));
    }
    clock.restart();
    manager.SaveOption->click();
    timing.applyMs = elapsedMs(clock);
    if (UBound(Global::Users) != count)
        fail(QStringLiteral("Apply kept %1 entries").arg(UBound(Global::Users)));
    return timing;
}

Timing plainRound(const UserTable& table)
{
    const int count = UBound(table);
    Timing timing;
    QElapsedTimer clock;
    clock.start();
    QTreeWidget tree;
    tree.setHeaderLabels({"User Name", "User IP", "User Port"});
    QList<QTreeWidgetItem*> items;
    items.reserve(count);
    for (int i = 1; i <= count; ++i) {
        const UserRecord& user = table[static_cast<std::size_t>(i)];
        items.append(new QTreeWidgetItem({user.name, user.ip, QString::number(user.port)}));
    }
    tree.addTopLevelItems(items);
    showAndWait(&tree);
    timing.openMs = elapsedMs(clock);
    for (int column = 0; column < 3; ++column) {
        clock.restart();
        tree.sortItems(column, Qt::AscendingOrder);
        QCoreApplication::processEvents();
        timing.sortMs[column] = elapsedMs(clock);
    }
    clock.restart();
    UserTable read = DimUsers(count);
    for (int i = 1; i <= count; ++i) {
        const QTreeWidgetItem* item = tree.topLevelItem(i - 1);
        read[static_cast<std::size_t>(i)] = {item->text(0), item->text(1), item->text(2).toInt(),
                                             i};
    }
    timing.applyMs = elapsedMs(clock);
    return timing;
}

void report(const char* what, const std::vector<double>& manager, const std::vector<double>& plain)
{
    const double m = median(manager);
    const double p = median(plain);
    std::printf("  %-16s manager %8.2f ms   plain tree %8.2f ms   ratio %5.2f\n", what, m, p,
                p > 0 ? m / p : 0.0);
}

void runSize(int count)
{
    const UserTable table = sampleTable(count);

    std::vector<Timing> manager;
    std::vector<Timing> plain;
    for (int round = 0; round < WarmUpRounds + MeasuredRounds; ++round) {
        const Timing m = managerRound(table);
        const Timing p = plainRound(table);
        if (round >= WarmUpRounds) {
            manager.push_back(m);
            plain.push_back(p);
        }
    }
    auto column = [](const std::vector<Timing>& timings, auto pick) {
        std::vector<double> values;
        for (const Timing& t : timings)
            values.push_back(pick(t));
        return values;
    };
    std::printf("bench_userlist: %d correspondents, %d rounds each after %d warm-up, "
                "alternating\n",
                count, MeasuredRounds, WarmUpRounds);
    report("open (shown)", column(manager, [](const Timing& t) { return t.openMs; }),
           column(plain, [](const Timing& t) { return t.openMs; }));
    const char* names[] = {"sort by name", "sort by IP", "sort by port"};
    for (int c = 0; c < 3; ++c)
        report(names[c], column(manager, [c](const Timing& t) { return t.sortMs[c]; }),
               column(plain, [c](const Timing& t) { return t.sortMs[c]; }));
    report("apply", column(manager, [](const Timing& t) { return t.applyMs; }),
           column(plain, [](const Timing& t) { return t.applyMs; }));
}

} // namespace

int main(int argc, char* argv[])
{
    bench::programName = "bench_userlist";
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // The window stores its position on closing: keep that out of the user's real store.
    QTemporaryDir config;
    if (!config.isValid())
        fail(QStringLiteral("no temporary folder"));
    qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    QApplication app(argc, argv);
    Global::BuildDefaultUsers();
    for (int count : {100, 1000, 10922})
        runSize(count);
    return 0;
}
