#pragma once

// The program's own stock items: the wizard's Next button, the folder and file
// icons of the tree views (plain and checked for recovery), Wizard and Recover.
// Their labels are translated when they are registered, so a change of the
// program language registers them again.

// Registers the seven items and their icons. Pictures are read from the
// application directory; one that cannot be loaded leaves its item without an
// icon.
void registerStockItems();
