#pragma once

class QHBoxLayout;
class QVBoxLayout;
class QWidget;

// Box layouts without margins, spaced as given: the interface nests many of them. `owner` may be
// null for a layout that goes into another.
QVBoxLayout* columnLayout(QWidget* owner, int spacing);
QHBoxLayout* rowLayout(QWidget* owner, int spacing);
