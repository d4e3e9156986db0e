// The peers of the start-up benchmark: the smallest Qt Widgets program that opens a window like the
// program's (same window flags, same fixed size), built with the same compiler flags. With the
// argument "chinese" the window also shows one line of Chinese text in the program's font, which
// costs the start what finding and loading a CJK font costs; the program cannot do without that.
#include <QApplication>
#include <QLabel>
#include <QWidget>

#include <cstring>

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QWidget window(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                                Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    window.setWindowTitle(QStringLiteral("Pelnavi系统"));
    window.setFixedSize(624, 564);
    if (argc > 1 && std::strcmp(argv[1], "chinese") == 0) {
        QFont font(QStringLiteral("宋体"));
        font.setPixelSize(12);
        window.setFont(font);
        auto* line = new QLabel(QStringLiteral("欢迎使用Pelnavi系统，欢迎加入官方QQ交流群"), &window);
        line->move(8, 8);
    }
    window.show();
    return QApplication::exec();
}
