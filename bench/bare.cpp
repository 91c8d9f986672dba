// The floor for start-up and idle cost: the smallest Qt Widgets program with a
// main window of the program's initial size, and nothing in it. With --label
// the window shows one line of text, which separates the toolkit's one-off
// cost of the first text (loading a font engine, laying out and drawing
// glyphs) from the cost of the program's own window.
#include "firstpaint.h"

#include <QApplication>
#include <QLabel>
#include <QMainWindow>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QMainWindow window;
    window.resize(702, 300);
    for (int i = 1; i < argc; ++i) {
        if (QByteArray(argv[i]) == "--label")
            window.setCentralWidget(new QLabel(QStringLiteral("Position store")));
    }
    bench::FirstPaint probe(&window, bench::quitRequested(argc, argv));
    window.show();
    return app.exec();
}
