#pragma once

// Loading and saving a scan from the windows: the program's file dialog picks
// the file ("Scan.bin" proposed) in the place the user chose last, and the
// analysis reads or writes it. Messages go through the context's interface.

class DriveDescr;
class GuiContext;

// The Open File dialog, then the scan is loaded from the chosen file into `d`.
// False when the user cancelled or the file could not be loaded (the loader has
// said why).
bool openScanWithDialog(GuiContext* context, DriveDescr& d);

// With `ask`, first the question whether to save at all; No ends here with
// true. Then the Save File dialog and the save; a note tells the path of the
// saved file. False when the user cancelled the dialog or the file could not be
// written (an error box has said so).
bool saveScanWithPrompt(GuiContext* context, DriveDescr& d, bool ask);
