// Loads the installed Designer plug-in as Designer does, from its folder,
// with nothing of Zorvex linked in: its RPATH must find the libraries.
#include <QApplication>
#include <QPluginLoader>
#include <QWidget>
#include <QtUiPlugin/QDesignerCustomWidgetCollectionInterface>
#include <cstdio>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 2) return 2;
    QPluginLoader loader(QString::fromLocal8Bit(argv[1]));
    auto* collection = qobject_cast<QDesignerCustomWidgetCollectionInterface*>(loader.instance());
    if (collection == nullptr) {
        std::fprintf(stderr, "%s\n", loader.errorString().toLocal8Bit().constData());
        return 1;
    }
    QStringList names;
    for (QDesignerCustomWidgetInterface* entry : collection->customWidgets()) {
        QWidget* widget = entry->createWidget(nullptr);
        names.append(entry->group() + "/" + (widget ? widget->metaObject()->className() : "null"));
        delete widget;
    }
    std::printf("%s\n", names.join(' ').toLocal8Bit().constData());
    return 0;
}
