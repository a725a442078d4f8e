// The window tests of the program fail on GLib and GTK warnings as the window
// layer's own tests do: one handler, shared.
#include "tests/gui/LogFailures.cpp"
