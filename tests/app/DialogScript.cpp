// The window tests of the program answer their dialogs as the window layer's own
// tests do: one scripter, shared.
#include "tests/gui/DialogScript.cpp"
