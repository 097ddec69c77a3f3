// Times filling and showing the main window's recipient list (FillUserCombo into the
// combo box adapter) against a plain combo box given the finished lines, alternating.

#include "BenchSupport.h"
#include "app/Global.h"
#include "app/RecipientList.h"
#include "windows/ComboRecipientList.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QTest>

#include <cstdio>
#include <memory>
#include <vector>

namespace {

using bench::fail;
using bench::median;

constexpr int ComboRounds = 7;

QComboBox* newCombo()
{
    // The size policy the main window uses, so both sides skip measuring every line.
    auto* combo = new QComboBox;
    combo->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    combo->setMinimumContentsLength(28);
    return combo;
}

double showAndTime(QComboBox* combo, const QElapsedTimer& timer)
{
    combo->show();
    if (!QTest::qWaitForWindowExposed(combo))
        fail(QStringLiteral("the combo box was never shown"));
    return static_cast<double>(timer.nsecsElapsed()) / 1e6;
}

// Fill and show of the recipient list against a plain combo given the finished lines.
void runCombo()
{
    std::printf("recipient list fill + show, %d rounds each, alternating\n", ComboRounds);
    for (int size : {100, 1000, 32767}) {
        UserTable users = DimUsers(size);
        QStringList plainLines;
        for (int i = 1; i <= size; ++i) {
            users[static_cast<std::size_t>(i)] = {
                QStringLiteral("User %1").arg(i),
                QStringLiteral("10.0.%1.%2").arg(i / 256 % 256).arg(i % 256), 1024 + i % 60000, i};
        }
        Global::Users = users;
        plainLines = UserComboLines();
        std::vector<double> ours, plain;
        for (int round = 0; round < ComboRounds + 1; ++round) {
            // Alternating which goes first, so neither always finds the other's freed memory.
            for (int turn = 0; turn < 2; ++turn) {
                if ((round + turn) % 2 == 0) {
                    QElapsedTimer timer;
                    timer.start();
                    std::unique_ptr<QComboBox> combo(newCombo());
                    ComboRecipientList list(combo.get());
                    FillUserCombo(list, 0);
                    const double ms = showAndTime(combo.get(), timer);
                    if (combo->count() != size || combo->itemText(size - 1) != plainLines.last())
                        fail(QStringLiteral("the recipient list holds other lines"));
                    if (round > 0)
                        ours.push_back(ms);
                } else {
                    QElapsedTimer timer;
                    timer.start();
                    std::unique_ptr<QComboBox> combo(newCombo());
                    combo->addItems(plainLines);
                    combo->setCurrentIndex(0);
                    const double ms = showAndTime(combo.get(), timer);
                    if (round > 0)
                        plain.push_back(ms);
                }
            }
        }
        std::printf("  %5d lines: FillUserCombo %7.2f ms   plain addItems %7.2f ms   "
                    "ratio %5.2f\n",
                    size, median(ours), median(plain), median(ours) / median(plain));
    }
}

} // namespace

int main(int argc, char* argv[])
{
    bench::programName = "bench_recipients";
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    runCombo();
    return 0;
}
