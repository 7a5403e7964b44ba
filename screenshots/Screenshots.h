#pragma once

#include <QSize>
#include <QString>

class QWidget;

// For the programs behind `make screenshots`: each renders widgets with fixed sample data and
// saves them as PNG files into the folder named by its first argument.
namespace Screenshots {

// The folder from the command line (created); call once after the application object exists.
QString folder();
// Lays out and shows `widget` offscreen at its size hint (or `size` when given) and saves it as
// "<name>.png" at a device-pixel ratio of 2. Returns false when the file could not be written.
bool save(QWidget* widget, const QString& name, const QSize& size = {});

} // namespace Screenshots
