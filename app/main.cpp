#include "ui/qtloop.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QtEventLoop loop;
    return 0;
}
