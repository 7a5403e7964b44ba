#pragma once

// Return and Enter press the focused button, whatever kind of button it is and wherever it is: a
// dialog's default button answers Return only while no other button has the keyboard.
//
// Qt leaves Return to a dialog's default push button, so a focused "Delete" would otherwise give
// the question's safe answer, and a button outside a dialog (a row, a check circle) would ignore
// the key altogether.

class QApplication;

namespace ReturnKey {

// Watches key presses in the whole application (Theme::apply calls it).
void install(QApplication& app);

} // namespace ReturnKey
