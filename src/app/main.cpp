// vantorel: the application, and the client of a running one. It loads no
// toolkit: with a display a run continues in the tray executable; without
// one, or with --headless, it runs on the terminal with the console face.

#include "app/Launcher.h"

int main(int argc, char** argv) { return vantorel::LaunchVantorel(argc, argv, nullptr); }
