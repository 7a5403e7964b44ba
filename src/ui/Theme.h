#pragma once

// The application's look: Fusion with one fixed light palette and the interface fonts.
//
// Sizes are points, and a point is one device-independent pixel: fonts are set by pixel size, so
// the screen's DPI setting never changes them, and everything is drawn sharp at any device-pixel
// ratio. Weights follow the design's names: heavy = QFont::ExtraBold, bold = QFont::Bold,
// semibold = QFont::DemiBold, medium = QFont::Medium, regular = QFont::Normal.

#include <QFont>
#include <QList>
#include <QPalette>

class QApplication;
class QWidget;

namespace Theme {

enum class Design {
    standard,   // Inter, the interface face
    serif,      // Noto Serif, for titles the design sets in a serif
    monospaced, // DejaVu Sans Mono, for key hints
    digits,     // Noto Sans, for counting digits (Inter's digits are proportional)
};

// A font of `pixelSize` device-independent pixels (rounded to whole pixels).
QFont font(qreal pixelSize, QFont::Weight weight = QFont::Normal, Design design = Design::standard);

// The first of `families` that is installed, alone; all of them when none is.
QStringList firstInstalled(const QStringList& families);

// Call before the QApplication exists: the desktop's fonts and colours must not leak in.
void prepareApplication();
// Fusion, the light palette and the interface font for the whole application.
void apply(QApplication& app);
// Part of apply(): the icon font from its plain file where a compressed copy is installed too.
void preferPlainIconFont();

QPalette palette();

// A face's first use in a thread loads it, which costs a good part of a frame, and each size costs
// a little more; every face file loaded also stays in memory. What tells faces apart: two fonts of
// one key draw through one loaded face (decorations such as letter spacing aside), as a widget
// would draw them.
QString faceKey(const QFont& font);
// `faces` without the repeats, in their order.
QList<QFont> distinctFaces(const QList<QFont>& faces);
// Loads the face of `font` for this thread, as a widget would draw it, and shapes a little text.
void prime(const QFont& font);

// Fills the widget's background with one colour.
void fillBackground(QWidget* widget, const QColor& color);

} // namespace Theme
