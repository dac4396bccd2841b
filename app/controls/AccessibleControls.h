// What the desktop's screen readers learn of the controls that paint themselves: a picture
// button reads as a button named by its face (or, without one, by its hint) and, when it
// latches, as checkable with its down state as checked; an image reads as a graphic; a
// seven-segment display reads its digits. Hints are the descriptions; a name given with
// setAccessibleName() wins over both.
#pragma once

// Makes Qt's accessibility ask for these interfaces (once; every such control calls it).
void InstallAccessibleControls();
