#pragma once

#include <QStringList>

// The program as a person starts it: one running copy per data folder, the services made once
// each and in order, the shell that shows them, and what waits until the window is drawn.
// main() only tells this mode from the browsers' relay and hands over.
namespace Application {

// What the command line asks of the program: links to open, and whether the desktop started it
// at sign-in.
struct Arguments {
    QStringList links;
    bool loginItem = false;
};
Arguments parse(const QStringList& arguments);

// Runs the program until it quits; the process's exit code.
int run(int argc, char* argv[]);

} // namespace Application
