#pragma once

class QHBoxLayout;
class QVBoxLayout;
class QWidget;

// Box layouts without margins, spaced as given: the interface nests many of them. `owner` may be
// null for a layout that goes into another.
QVBoxLayout* columnLayout(QWidget* owner, int spacing);
QHBoxLayout* rowLayout(QWidget* owner, int spacing);

// Orders Tab through the controls inside `root` as its layouts place them, which is how a person
// reads them: a control built later (a replaced card, a reused row moved up) would otherwise be
// reached last, wherever it stands.
void orderTabsByLayout(QWidget* root);

// The last control before `widget` in its window, in the order the layouts place them; null when
// none comes before it, or `widget` is not laid out in its window.
QWidget* stopBeforeInLayout(QWidget* widget);
