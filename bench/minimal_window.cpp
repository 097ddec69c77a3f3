// The baseline of bench_startup: a bare program with the main window's widgets, menus and
// recipient lines, and nothing else (no store, no lock, no reply channel). Both are timed
// alike, to their first Expose, by the library bench_startup preloads.
//
// Usage: minimal_window ENTRIES.

#include <QApplication>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QMainWindow>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStringList>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    const int entries = argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : 1;

    QMainWindow window;
    window.setWindowTitle(QStringLiteral("Send Message"));
    auto* central = new QWidget(&window);
    auto* grid = new QGridLayout(central);
    auto* combo = new QComboBox(central);
    combo->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    combo->setMinimumContentsLength(28);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(new QPushButton(QStringLiteral("Modify User"), central));
    buttons->addStretch(1);
    buttons->addWidget(new QPushButton(QStringLiteral("Stop"), central));
    buttons->addWidget(new QPushButton(QStringLiteral("Send"), central));
    grid->addWidget(combo, 0, 0);
    grid->addWidget(new QPlainTextEdit(central), 1, 0);
    grid->addLayout(buttons, 2, 0);
    window.setCentralWidget(central);
    window.menuBar()->addMenu(QStringLiteral("&File"))->addAction(QStringLiteral("E&xit"));
    QMenu* option = window.menuBar()->addMenu(QStringLiteral("&Option"));
    option->addAction(QStringLiteral("&Program Option ..."));
    option->addAction(QStringLiteral("&Identification ..."));
    QMenu* help = window.menuBar()->addMenu(QStringLiteral("&Help"));
    help->addAction(QStringLiteral("Your &ip..."));
    help->addSeparator();
    help->addAction(QStringLiteral("&About..."));

    // The same lines as a table of that many entries.
    QStringList lines;
    lines.reserve(entries);
    for (int i = 1; i <= entries; ++i) {
        lines.append(QStringLiteral("User %1 (10.0.%2.%3: %4)")
                         .arg(i)
                         .arg(i / 256)
                         .arg(i % 256)
                         .arg(1024 + i));
    }
    combo->addItems(lines);
    combo->setCurrentIndex(0);

    window.show();
    return QApplication::exec();
}
