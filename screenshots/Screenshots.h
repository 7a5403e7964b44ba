#pragma once

#include <QSize>
#include <QString>

class QWidget;

// For the programs behind `make screenshots`: each renders widgets with fixed sample data and
// saves them as PNG files into the folder named by its first argument. Given "--check-texts"
// instead, the same program saves nothing and checks every text of every screen it renders for
// names of things this desktop does not have; ctest runs them that way.
namespace Screenshots {

// The folder from the command line (created); call once after the application object exists.
QString folder();
// Lays out and shows `widget` offscreen at its size hint (or `size` when given) and saves it as
// "<name>.png" at a device-pixel ratio of 2, or checks its texts. Returns false when the file
// could not be written or a text was found.
bool save(QWidget* widget, const QString& name, const QSize& size = {});
// What the program ends with: 1 when a save failed, or when checking found a text or had
// nothing to check.
int exitCode();

} // namespace Screenshots
