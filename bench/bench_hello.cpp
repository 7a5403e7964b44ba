// The hello-world Qt Widgets window bench_startup times the program's start against. A program of
// its own, linked with Qt Widgets alone: started as bench_startup itself, it would also load Qt
// Network with Kerberos and the proxy library, and the yardstick would start slower than a
// hello world does.
#include <QApplication>
#include <QLabel>
#include <QVBoxLayout>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    layout->addWidget(new QLabel(QStringLiteral("Hello, world")));
    window.setWindowTitle(QStringLiteral("Hello"));
    window.resize(1240, 800);
    window.show();
    return app.exec();
}
