#pragma once

#include <QRegularExpression>
#include <QStringList>

class QWidget;

// Every text a person can meet in a widget tree: what its widgets paint, and the texts that
// appear elsewhere (tooltips, accessible names and descriptions, window titles, placeholders,
// menu entries).
namespace VisibleTexts {

// What `root` and its descendants paint, in painting order, one entry per drawn run of text.
QStringList painted(QWidget* root);
// The texts kept in properties of `root`, its descendants and their actions.
QStringList properties(QWidget* root);

// Names of things this desktop does not have, and promises this build does not keep.
const QRegularExpression& elsewhere();
// The texts among `texts` that match `elsewhere()`. Painted runs are also read joined, so that
// words wrapped onto two lines are still seen together.
QStringList offending(const QStringList& texts, bool joined = false);
// Both kinds of text of `root`, checked.
QStringList offending(QWidget* root);

} // namespace VisibleTexts
