// The peer of the start-up benchmark: the smallest Qt Widgets program that opens a window like the
// program's (same window flags, same fixed size), built with the same compiler flags.
#include <QApplication>
#include <QWidget>

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QWidget window(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                                Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    window.setWindowTitle(QStringLiteral("Pelnavi系统"));
    window.setFixedSize(624, 564);
    window.show();
    return QApplication::exec();
}
